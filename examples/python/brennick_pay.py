#!/usr/bin/env python3
"""One card-payment operation through Brennick, and its outcome read safely.

Copy this file into a register's code base; it needs nothing beyond Python's
standard library (3.7 or later) and runs on Windows and POSIX.

    from brennick_pay import pay
    result = pay("purchase", amount=221, currency=643)
    if result.outcome_unknown:
        ...   # check the terminal before charging again
    elif result.approved:
        ...

or from a shell:

    python3 brennick_pay.py purchase 221 --currency 643
    python3 brennick_pay.py recover /var/log/brennick    # runs that never ended

The exit code of Brennick decides what the result files are worth:
  0   completed: output_ex.dat holds the terminal's answer
  -1  no operation named; 2: not started; nothing was charged either way
  3   a result file is incomplete: the outcome is unknown, unless the
      journal's end line of the run holds the answer (then that counts)
  4   the library failed during the call: the answer counts if RC is there
  any other code (a crash, a timeout): the outcome is unknown

A library that ends the process at once (_exit, ExitProcess, a kill) leaves
whatever exit code it likes, 2 included. Where JournalPath is set, a run
that did not end with 0 is looked up there by its process id: a "call" line
without its "end" line means the library was entered and the outcome is
unknown, whatever the exit code says.
"""

import argparse
import json
import os
import subprocess
import sys
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Sequence, Tuple, Union

OPERATIONS = {"purchase": 1, "refund": 2, "cancel": 3, "end-of-day": 7}
SETTINGS_KEY = r"software\Merot\Dovrex Auth Library"

Text = Union[str, bytes]


@dataclass
class Result:
    exit_code: Optional[int]      # None when the run had to be stopped (timeout)
    started: bool                 # False: the library was not called, nothing was charged
    outcome_unknown: bool         # True: check the terminal before charging again
    approved: bool = False
    rc: Optional[str] = None
    rrn: Optional[str] = None
    auth_code: Optional[str] = None
    text: Optional[str] = None
    library_fault: bool = False   # exit code 4: the answer stands, the library then failed
    slip: bytes = b""             # the terminal's slip to print, LF between lines
    values: Dict[str, bytes] = field(default_factory=dict)   # every KEY=VALUE, as bytes


def read_setting(name: str) -> Optional[bytes]:
    """A value of Brennick's settings key as the program reads it, or None."""
    if os.name == "nt":
        import winreg
        try:
            # Brennick is a 32-bit program: it reads the 32-bit registry view.
            with winreg.OpenKey(winreg.HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0,
                                winreg.KEY_READ | winreg.KEY_WOW64_32KEY) as key:
                value, _ = winreg.QueryValueEx(key, name)
        except OSError:
            return None
        return value.encode("mbcs") if isinstance(value, str) else bytes(value)
    folder = os.environ.get("BRENNICK_REGISTRY") or "/etc/brennick/registry"
    for part in SETTINGS_KEY.split("\\") + [name]:
        try:
            entries = os.listdir(folder)
        except OSError:
            return None
        match = [e for e in entries if e == part] or [e for e in entries if e.lower() == part.lower()]
        if not match:
            return None
        folder = os.path.join(folder, match[0])
    try:
        with open(folder, "rb") as f:
            data = f.read(261)
    except OSError:
        return None
    if len(data) > 260:
        return None
    # The last byte stands for the string's terminating zero.
    return data[:-1].split(b"\0")[0] if data else b""


def exchange_folder(work_dir: str) -> str:
    """Where Brennick writes its result files for a run started in work_dir."""
    folder = read_setting("ExchangePath")
    if not folder:
        return work_dir
    return os.fsdecode(folder)


def read_results(path: str) -> Dict[str, bytes]:
    """KEY=VALUE lines as bytes; the first value of a key counts. Any byte in
    a value is kept; a value with a line break only loses its tail."""
    with open(path, "rb") as f:
        content = f.read()
    values: Dict[str, bytes] = {}
    for line in content.split(b"\r\n"):
        key, sep, value = line.partition(b"=")
        if sep:
            values.setdefault(key.decode("latin-1"), value)
    return values


def read_slip(path: str) -> bytes:
    """The slip in the record dump: the data_to_print line and the lines
    that the slip's own line feeds start, up to the next field's line."""
    try:
        with open(path, "rb") as f:
            dump = f.read()
    except OSError:
        return b""
    start = dump.find(b"\ndata_to_print =")
    if start < 0:
        return b""
    start += len(b"\ndata_to_print =")
    end = dump.find(b"\nhome_operator =", start)
    return dump[start:end if end >= 0 else len(dump)]


def journal_entries(folder: str, days: int = 2) -> List[dict]:
    """The lines of the last days' journal files, oldest first; a line that
    does not parse is passed over."""
    try:
        names = sorted(n for n in os.listdir(folder)
                       if n.startswith("brennick-") and n.endswith(".jsonl"))[-days:]
    except OSError:
        return []
    entries = []
    for name in names:
        try:
            with open(os.path.join(folder, name), "rb") as f:
                lines = f.read().splitlines()
        except OSError:
            continue
        for line in lines:
            try:
                entry = json.loads(line)
            except ValueError:
                continue
            if isinstance(entry, dict):
                entries.append(entry)
    return entries


def own_run(pid: int) -> Tuple[Optional[dict], Optional[dict]]:
    """The "call" and "end" lines of the last run of this process id in the
    configured journal (the run may have started the day before)."""
    folder = read_setting("JournalPath")
    if not folder:
        return None, None
    call = end = None
    for entry in journal_entries(os.fsdecode(folder)):
        if entry.get("pid") != pid:
            continue
        # Process ids come back: the last run of this one counts.
        if entry.get("event") == "call":
            call, end = entry, None
        elif entry.get("event") == "end" and (call is None or entry.get("run") == call.get("run")):
            end = entry
    return call, end


@dataclass
class UnfinishedRun:
    run: str                      # the run id of the journal
    time: str
    pid: int
    trace: Optional[str]          # the register's trace id (/b), masked
    args: str                     # the command line, masked


def recover(journal_folder: str, days: int = 2) -> List[UnfinishedRun]:
    """The runs that entered the library and never ended (a kill, a crash,
    a power cut): their outcome is unknown until the terminal is asked for
    its last operation."""
    calls: Dict[str, dict] = {}
    ended = set()
    for entry in journal_entries(journal_folder, days):
        key = entry.get("run") or "pid %s" % entry.get("pid")
        if entry.get("event") == "call":
            calls[key] = entry
        elif entry.get("event") == "end":
            ended.add(key)
    return [UnfinishedRun(run=key, time=c.get("time", ""), pid=c.get("pid", 0),
                          trace=c.get("trace"), args=c.get("args", ""))
            for key, c in calls.items() if key not in ended]


def _switch(name: str, value: Optional[Union[Text, int]]) -> Sequence[bytes]:
    if value is None:
        return []
    if isinstance(value, int):
        value = str(value)
    if isinstance(value, str):
        value = value.encode("latin-1")
    if b" " in value:
        raise ValueError("a switch value cannot hold a blank: %r" % value)
    return [name.encode("ascii") + value]


class BrennickNotFound(Exception):
    """Brennick itself could not be started: nothing ran, nothing was charged."""


def pay(operation: Union[str, int], amount: Optional[int] = None, currency: Optional[int] = None,
        rrn: Optional[str] = None, trace_id: Optional[Text] = None, instance: Optional[str] = None,
        card: Optional[str] = None, program: Optional[str] = None, exchange: Optional[str] = None,
        work_dir: Optional[str] = None, timeout: float = 300) -> Result:
    """Runs one operation and returns what the register may rely on."""
    code = OPERATIONS.get(operation, operation) if isinstance(operation, str) else operation
    program = program or os.environ.get("BRENNICK_PROGRAM") or (
        "Brennick.exe" if os.name == "nt" else "brennick")
    work_dir = work_dir or os.getcwd()
    exchange = exchange or exchange_folder(work_dir)
    suffix = "-" + instance if instance else ""
    path = os.path.join(exchange, "output_ex.dat" + suffix)
    dump = os.path.join(exchange, "output_ex.txt" + suffix)
    # An earlier answer must never pass for this one's.
    for old in (path, dump):
        try:
            os.remove(old)
        except FileNotFoundError:
            pass

    args = [os.fsencode(program)]
    args += _switch("/o", int(code)) + _switch("/a", amount) + _switch("/c", currency)
    args += _switch("/r", rrn) + _switch("/b", trace_id) + _switch("/t", card)
    args += _switch("/quarnid", instance)
    try:
        child = subprocess.Popen(args, cwd=work_dir)
    except (FileNotFoundError, PermissionError) as e:
        raise BrennickNotFound("cannot find or run Brennick (%s: %s): put it on PATH or name it with --program PATH "
                               "or the BRENNICK_PROGRAM variable" % (program, e.strerror)) from None
    try:
        exit_code = child.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        child.kill()
        child.wait()
        # The terminal may still be working: whatever it does, it is unknown.
        return Result(exit_code=None, started=True, outcome_unknown=True)

    call, end = own_run(child.pid) if exit_code != 0 else (None, None)
    if call is not None and end is None:
        return Result(exit_code=exit_code, started=True, outcome_unknown=True)
    if exit_code == 3 and end is not None and "RC" in end.get("result", {}):
        # A result file is incomplete, but the journal kept the answer.
        values = {k: v.encode("latin-1") for k, v in end["result"].items()}
        return Result(exit_code=3, started=True, outcome_unknown=False,
                      approved=values["RC"] == b"00", rc=end["result"]["RC"],
                      rrn=end["result"].get("RRN"), auth_code=end["result"].get("AUTH_CODE"),
                      text=end["result"].get("TEXT_MSG"), values=values)
    if exit_code in (2, 255, -1, 4294967295):
        return Result(exit_code=exit_code, started=False, outcome_unknown=False)
    values = read_results(path) if exit_code in (0, 4) and os.path.exists(path) else {}
    if "RC" not in values:
        return Result(exit_code=exit_code, started=True, outcome_unknown=True, values=values)

    def text(key: str) -> Optional[str]:
        return values[key].decode("latin-1") if key in values else None

    return Result(exit_code=exit_code, started=True, outcome_unknown=False,
                  approved=values["RC"] == b"00", rc=text("RC"), rrn=text("RRN"),
                  auth_code=text("AUTH_CODE"), text=text("TEXT_MSG"),
                  library_fault=exit_code == 4, slip=read_slip(dump), values=values)


def main_recover(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(prog="brennick_pay.py recover",
                                     description="Runs that entered the library and never ended.")
    parser.add_argument("journal", help="the journal folder (JournalPath)")
    a = parser.parse_args(argv)
    runs = recover(a.journal)
    for r in runs:
        print("UNFINISHED run %s at %s pid %s trace %s: %s" % (r.run, r.time, r.pid, r.trace or "-", r.args))
    if not runs:
        print("no unfinished runs")
    return 3 if runs else 0


def main(argv: Optional[Sequence[str]] = None) -> int:
    argv = sys.argv[1:] if argv is None else list(argv)
    if argv[:1] == ["recover"]:
        return main_recover(argv[1:])
    parser = argparse.ArgumentParser(description="One payment operation through Brennick.")
    parser.add_argument("operation", choices=sorted(OPERATIONS))
    parser.add_argument("amount", type=int, nargs="?", help="in minor units: 221 is 2.21")
    parser.add_argument("--currency", type=int)
    parser.add_argument("--rrn", help="the operation to cancel or refund")
    parser.add_argument("--trace", help="invoice number")
    parser.add_argument("--instance", help="the terminal's instance id")
    parser.add_argument("--program", help="Brennick's path")
    parser.add_argument("--exchange", help="the exchange folder, if not the configured one")
    parser.add_argument("--timeout", type=float, default=300)
    a = parser.parse_args(argv)
    try:
        r = pay(a.operation, a.amount, a.currency, a.rrn, a.trace, a.instance, program=a.program,
                exchange=a.exchange, timeout=a.timeout)
    except BrennickNotFound as e:
        print("brennick_pay.py: %s" % e, file=sys.stderr)
        return 2
    if not r.started:
        print("NOT STARTED (exit code %s): nothing was charged" % r.exit_code)
        return 2
    if r.outcome_unknown:
        print("OUTCOME UNKNOWN (exit code %s): check the terminal before charging again" % r.exit_code)
        return 3
    print("%s RC=%s %s RRN=%s AUTH=%s" % ("APPROVED" if r.approved else "DECLINED", r.rc,
                                        r.text or "", r.rrn or "", r.auth_code or ""))
    if r.slip:
        print(r.slip.decode("latin-1"))
    return 0 if r.approved else 1


if __name__ == "__main__":
    sys.exit(main())
