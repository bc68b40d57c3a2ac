#!/usr/bin/env python3
"""One complete run of brennick against the simulator, side by side with a
minimal C loader that does only the irreducible work, over many runs in one
session: median wall and CPU time, peak memory, their ratios; what the
flushes to disk cost (with the journal on, with and without eatmydata); the
parse time of argument texts up to 32767 characters; the size of
Brennick.exe.

    python3 bench/bench.py [--runs 200]
"""
import argparse
import os
import pathlib
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
BIN = ROOT / "build" / "native" / "bin"


def build():
    subprocess.run(["cmake", "--preset", "native"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "native", "--target",
                    "brennick", "paysim", "minimal_loader", "parse_bench"],
                   cwd=ROOT, check=True, stdout=subprocess.DEVNULL)


def measure(argv, env):
    """Wall seconds, CPU seconds and peak resident KiB of one process."""
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, env)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv[0]} failed with status {status}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=200)
    args = parser.parse_args()
    build()

    work = pathlib.Path(tempfile.mkdtemp(prefix="brennick-bench-"))
    key = work / "registry" / "software" / "Merot" / "Dovrex Auth Library"
    key.mkdir(parents=True)
    for folder in ("x1", "x2", "state"):
        (work / folder).mkdir()
    library = str(BIN / "libpaysim.so")
    (key / "LocationPath").write_text(library + "\n")
    (key / "ExchangePath").write_text(str(work / "x1") + "\n")
    env = dict(os.environ, BRENNICK_REGISTRY=str(work / "registry"),
               PAYSIM_STATE_DIR=str(work / "state"), PAYSIM_NOW="2026-12-08T14:30:05")

    brennick = [str(BIN / "brennick"), "/o1 /a221 /c643"]
    loader = [str(BIN / "minimal_loader"), library, str(work / "x2")]
    # A run as installed, with its journal, and the same run with every flush
    # to disk turned into nothing by libeatmydata: what durability costs.
    (work / "j").mkdir()
    (work / "registry2" / "software" / "Merot").mkdir(parents=True)
    shutil.copytree(key, work / "registry2" / "software" / "Merot" / "Dovrex Auth Library")
    (work / "registry2" / "software" / "Merot" / "Dovrex Auth Library" / "JournalPath").write_text(
        str(work / "j") + "\n")
    journal_env = dict(env, BRENNICK_REGISTRY=str(work / "registry2"))
    eatmydata = next((p for p in ("/usr/lib/x86_64-linux-gnu/libeatmydata.so",
                                  "/usr/lib/libeatmydata.so") if os.path.exists(p)), None)
    results = {"brennick": [], "loader": [], "journal": [], "no flush": []}
    try:
        for i in range(args.runs):
            # Interleaved, so that all see the same machine.
            results["brennick"].append(measure(brennick, env))
            results["loader"].append(measure(loader, env))
            results["journal"].append(measure(brennick, journal_env))
            if eatmydata:
                results["no flush"].append(measure(brennick, dict(journal_env, LD_PRELOAD=eatmydata)))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    def med(name, index):
        return statistics.median(r[index] for r in results[name])

    print(f"machine: {platform.processor() or platform.machine()}, {os.cpu_count()} cores, "
          f"{platform.system()} {platform.release()}")
    print(f"runs: {args.runs} each, interleaved")
    print(f"{'':12}{'wall ms':>10}{'cpu ms':>10}{'peak KiB':>10}")
    for name in ("brennick", "loader"):
        print(f"{name:12}{med(name, 0) * 1e3:10.3f}{med(name, 1) * 1e3:10.3f}{med(name, 2):10.0f}")
    print(f"{'journal':12}{med('journal', 0) * 1e3:10.3f}{med('journal', 1) * 1e3:10.3f}{med('journal', 2):10.0f}"
          "  (with JournalPath)")
    if eatmydata:
        print(f"{'no flush':12}{med('no flush', 0) * 1e3:10.3f}{med('no flush', 1) * 1e3:10.3f}"
              f"{med('no flush', 2):10.0f}  (with JournalPath, flushes disabled)")
        print(f"flushes to disk per run: {(med('journal', 0) - med('no flush', 0)) * 1e3:.3f} ms wall")
    else:
        print("flushes to disk per run: not measured (install eatmydata)")
    # The loader flushes nothing: Brennick's own work is compared without
    # the flushes that make its outcome durable, which are measured above.
    own = "no flush" if eatmydata else "brennick"
    wall = med(own, 0) / med("loader", 0)
    cpu = med(own, 1) / max(med("loader", 1), 1e-9)
    mem = med(own, 2) / med("loader", 2)
    print(f"ratio ({own} / loader) wall {wall:.3f} (target <= 1.10), cpu {cpu:.3f}, "
          f"peak memory {mem:.3f} (target <= 1.2)")

    out = subprocess.run([str(BIN / "parse_bench")], check=True, capture_output=True, text=True).stdout
    points = [tuple(map(int, out.split()[i:i + 2])) for i in range(0, len(out.split()), 2)]
    print("parse time: " + ", ".join(f"{n} chars {ns / 1000:.2f} us" for n, ns in points))
    (n0, t0), (n1, t1) = points[0], points[-1]
    print(f"parse time per character from {n0} to {n1}: {(t1 - t0) / (n1 - n0):.3f} ns "
          f"(linear when this stays flat between sizes)")

    exe = ROOT / "build" / "win32" / "bin" / "Brennick.exe"
    if exe.exists():
        print(f"Brennick.exe: {exe.stat().st_size} bytes")
    else:
        print("Brennick.exe: not built (cmake --preset win32 && cmake --build --preset win32)")
    return 0 if wall <= 1.10 and mem <= 1.2 else 1


if __name__ == "__main__":
    sys.exit(main())
