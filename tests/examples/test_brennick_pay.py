"""examples/python/brennick_pay.py against the built program and the
terminal simulator. BRENNICK_BIN names the folder of brennick and
libpaysim.so; from the Windows build, BRENNICK_WIN_BIN names the folder of
Brennick.exe and paysim.dll and BRENNICK_WINE_RUN the build's Wine runner."""
import os
import subprocess
import sys
import tempfile
import threading
import time
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "examples", "python"))
import brennick_pay  # noqa: E402

BIN = os.environ.get("BRENNICK_BIN")
WIN_BIN = os.environ.get("BRENNICK_WIN_BIN")
WINE_RUN = os.environ.get("BRENNICK_WINE_RUN")


def winpath(path):
    return "Z:" + path.replace("/", "\\")


@unittest.skipUnless(BIN, "runs from the POSIX build's tests")
class BrennickPay(unittest.TestCase):
    def setUp(self):
        self.saved = dict(os.environ)
        self.tmp = tempfile.TemporaryDirectory(prefix="brennick-pay-")
        self.addCleanup(self.tmp.cleanup)
        root = self.tmp.name
        self.exchange = os.path.join(root, "exchange")
        key = os.path.join(root, "registry", "software", "Merot", "Dovrex Auth Library")
        for folder in (self.exchange, key, os.path.join(root, "state")):
            os.makedirs(folder)
        self.setting(key, "LocationPath", os.path.join(BIN, "libpaysim.so"))
        self.setting(key, "ExchangePath", self.exchange)
        self.key = key
        os.environ.update(BRENNICK_REGISTRY=os.path.join(root, "registry"),
                          PAYSIM_STATE_DIR=os.path.join(root, "state"),
                          BRENNICK_PROGRAM=os.path.join(BIN, "brennick"))

    def tearDown(self):
        os.environ.clear()
        os.environ.update(self.saved)

    @staticmethod
    def setting(key, name, value):
        with open(os.path.join(key, name), "w") as f:
            f.write(value + "\n")

    def test_approval_and_decline(self):
        r = brennick_pay.pay("purchase", 221, 643, work_dir=self.tmp.name)
        self.assertEqual((r.exit_code, r.started, r.outcome_unknown, r.approved, r.rc),
                         (0, True, False, True, "00"))
        self.assertTrue(r.rrn and r.auth_code)
        self.assertEqual(r.slip.split(b"\n"), [b"** SIMULATOR **", b"SALE 2.21 643", b"*1111 00 APPROVED"])
        r = brennick_pay.pay("purchase", 10051, 643, work_dir=self.tmp.name)
        self.assertEqual((r.approved, r.rc, r.text, r.outcome_unknown), (False, "51", "INSUFFICIENT FUNDS", False))

    def test_any_byte_in_a_value_leaves_the_answer_readable(self):
        r = brennick_pay.pay("purchase", 221, trace_id=b"INV\n42\xe9=\xff", work_dir=self.tmp.name)
        self.assertTrue(r.approved)
        self.assertEqual(r.values["TRACE_ID"], b"INV")

    def test_library_failing_before_or_after_the_answer(self):
        os.environ["PAYSIM_FAULT"] = "crash-after"
        r = brennick_pay.pay("purchase", 221, work_dir=self.tmp.name)
        self.assertEqual((r.exit_code, r.approved, r.library_fault, r.outcome_unknown), (4, True, True, False))
        os.environ["PAYSIM_FAULT"] = "crash"
        r = brennick_pay.pay("purchase", 221, work_dir=self.tmp.name)
        self.assertEqual((r.exit_code, r.started, r.outcome_unknown, r.approved), (4, True, True, False))

    def test_nothing_charged_when_the_run_cannot_start(self):
        self.setting(self.key, "ExchangePath", os.path.join(self.tmp.name, "absent"))
        r = brennick_pay.pay("purchase", 221, work_dir=self.tmp.name,
                             exchange=os.path.join(self.tmp.name, "absent"))
        self.assertEqual((r.exit_code, r.started, r.outcome_unknown), (2, False, False))
        self.setting(self.key, "LocationPath", os.path.join(self.tmp.name, "none.so"))
        r = brennick_pay.pay("purchase", 221, work_dir=self.tmp.name, exchange=self.exchange)
        self.assertEqual((r.exit_code, r.started), (2, False))

    def test_a_library_that_ends_the_process_leaves_the_outcome_unknown(self):
        # _Exit(2) after the approval: the exit code alone reads "not started".
        journal = os.path.join(self.tmp.name, "journal")
        os.makedirs(journal)
        self.setting(self.key, "JournalPath", journal)
        os.environ["PAYSIM_FAULT"] = "vanish-after"
        r = brennick_pay.pay("purchase", 221, work_dir=self.tmp.name)
        self.assertEqual((r.exit_code, r.started, r.outcome_unknown), (2, True, True))

    def test_a_process_id_used_again_finds_only_its_last_run(self):
        # An older run of the same process id ended; the newer one did not.
        journal = os.path.join(self.tmp.name, "journal")
        os.makedirs(journal)
        self.setting(self.key, "JournalPath", journal)
        with open(os.path.join(journal, time.strftime("brennick-%Y%m%d.jsonl")), "w") as f:
            for line in ('{"event":"call","pid":4242,"run":"a"}', '{"event":"end","pid":4242,"run":"a"}',
                         '{"event":"call","pid":4242,"run":"b"}'):
                f.write(line + "\n")
        call, end = brennick_pay.own_run(4242)
        self.assertEqual((call["run"], end), ("b", None))

    def test_after_exit_three_the_answer_comes_from_the_journal(self):
        # The dump is moved away while the terminal works: exit 3, but the
        # journal's end line holds the approval.
        journal = os.path.join(self.tmp.name, "journal")
        os.makedirs(journal)
        self.setting(self.key, "JournalPath", journal)
        os.environ["PAYSIM_DELAY_MS"] = "1500"
        mover = threading.Timer(0.7, os.rename, (os.path.join(self.exchange, "output_ex.txt"),
                                                 os.path.join(self.tmp.name, "moved")))
        mover.start()
        r = brennick_pay.pay("purchase", 221, work_dir=self.tmp.name)
        mover.join()
        self.assertEqual((r.exit_code, r.outcome_unknown, r.approved, r.rc), (3, False, True, "00"))

    def test_recovery_walk_of_the_readme_as_written(self):
        with open(os.path.join(ROOT, "docs", "integrating.md")) as f:
            guide = f.read()
        start = guide.index("```sh\n", guide.index("<!-- block: recovery-walk -->")) + 6
        walk = guide[start:guide.index("```", start)]
        journal = os.path.join(self.tmp.name, "journal")
        os.makedirs(journal)
        self.setting(self.key, "JournalPath", journal)
        walk = walk.replace("~/exchange", self.exchange).replace("/var/log/brennick", journal)
        walk = walk.replace("/usr/share/doc/brennick/examples", os.path.join(ROOT, "examples"))
        env = dict(os.environ, PATH=BIN + os.pathsep + os.environ["PATH"])
        # As pasted into a shell: the last command's code is grep's.
        out = subprocess.run(["bash", "-c", walk], env=env, capture_output=True, text=True)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertRegex(out.stdout, r"UNFINISHED run [0-9a-f]{16} .* trace INV-0042: /o1 /a500")
        lines = out.stdout.replace("\r", "").splitlines()
        for line in ("RC=00", "AMOUNT=221", "TRACE_ID=INV-0041"):
            self.assertIn(line, lines)
        self.assertEqual(len(brennick_pay.recover(journal)), 1)

    def test_a_trace_id_cannot_name_another_lane(self):
        r = brennick_pay.pay("purchase", 221, trace_id="INV/quarnid7", work_dir=self.tmp.name)
        self.assertEqual((r.exit_code, r.started, r.outcome_unknown), (2, False, False))
        self.assertEqual(os.listdir(self.exchange), [])

    def test_command_line(self):
        self.assertEqual(brennick_pay.main(["purchase", "221", "--currency", "643"]), 0)
        self.assertEqual(brennick_pay.main(["purchase", "10005"]), 1)
        # Brennick not where it is looked for: one line that says how to
        # point there, no traceback.
        example = os.path.join(ROOT, "examples", "python", "brennick_pay.py")
        run = subprocess.run([sys.executable, example, "purchase", "221"], capture_output=True, text=True,
                             env=dict(os.environ, BRENNICK_PROGRAM="", PATH="/nonexistent"))
        self.assertEqual(run.returncode, 2)
        self.assertRegex(run.stderr, r"^brennick_pay.py: cannot find or run Brennick \(brennick: .*--program PATH.*\n$")
        # There, but not a program that may run: the same words, no traceback.
        stranded = os.path.join(self.tmp.name, "brennick")
        with open(stranded, "w") as f:
            f.write("not a program\n")
        run = subprocess.run([sys.executable, example, "purchase", "221", "--program", stranded],
                             capture_output=True, text=True)
        self.assertEqual(run.returncode, 2)
        self.assertRegex(run.stderr, r"^brennick_pay.py: cannot find or run Brennick \(.*\n$")


@unittest.skipUnless(WINE_RUN and WIN_BIN, "runs from the Windows build's tests")
class BrennickPayUnderWine(unittest.TestCase):
    KEY = r"HKLM\software\Merot\Dovrex Auth Library"

    def setUp(self):
        self.saved = dict(os.environ)
        self.addCleanup(lambda: (os.environ.clear(), os.environ.update(self.saved)))
        self.tmp = tempfile.TemporaryDirectory(prefix="brennick-pay-wine-")
        self.addCleanup(self.tmp.cleanup)
        root = self.tmp.name
        self.exchange = os.path.join(root, "exchange")
        for folder in (self.exchange, os.path.join(root, "state")):
            os.makedirs(folder)
        self.addCleanup(self.wine, "reg", "delete", self.KEY, "/f")
        for name, value in (("LocationPath", os.path.join(WIN_BIN, "paysim.dll")),
                            ("ExchangePath", self.exchange)):
            self.wine("reg", "add", self.KEY, "/v", name, "/t", "REG_SZ", "/d", winpath(value), "/f")
        # The module starts one program: a script that hands the switches to Wine.
        self.program = os.path.join(root, "brennick-under-wine")
        with open(self.program, "w") as f:
            f.write('#!/bin/sh\nexec "%s" "%s" "$@"\n' % (WINE_RUN, os.path.join(WIN_BIN, "Brennick.exe")))
        os.chmod(self.program, 0o755)
        for name in ("PAYSIM_FAULT", "PAYSIM_NOW", "PAYSIM_DELAY_MS"):
            os.environ.pop(name, None)
        os.environ["PAYSIM_STATE_DIR"] = winpath(os.path.join(root, "state"))

    @staticmethod
    def wine(*args):
        subprocess.run([WINE_RUN] + list(args), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def pay(self, amount):
        return brennick_pay.pay("purchase", amount, 643, program=self.program, exchange=self.exchange,
                                work_dir=self.tmp.name)

    def test_approval_decline_and_a_fault_after_the_answer(self):
        r = self.pay(221)
        self.assertEqual((r.exit_code, r.approved, r.rc), (0, True, "00"))
        self.assertEqual(r.slip.split(b"\n")[:2], [b"** SIMULATOR **", b"SALE 2.21 643"])
        r = self.pay(10051)
        self.assertEqual((r.exit_code, r.approved, r.rc, r.outcome_unknown), (0, False, "51", False))
        os.environ["PAYSIM_FAULT"] = "crash-after"
        r = self.pay(221)
        self.assertEqual((r.exit_code, r.approved, r.library_fault), (4, True, True))


if __name__ == "__main__":
    unittest.main()
