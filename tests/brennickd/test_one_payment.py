"""brennickd never takes one payment for another: a key is matched to its run
by the id brennickd gave it, one service holds a state, what it writes
holds no card number, and neither a vanished log reader nor a flood on the
report channel costs a payment."""
import json
import os
import signal
import subprocess
import threading
import time
import unittest

from service_fixture import BIN, Service, ServiceCase

SALE = {"operation": "purchase", "amount": 221, "currency": 643, "trace_id": "INV-7"}
CARD = "4111111111111111"


@unittest.skipUnless(BIN, "runs from the POSIX build's tests")
class OnePayment(ServiceCase):
    def state_lines(self, s):
        with open(os.path.join(s.state, "brennickd-state.jsonl")) as f:
            return [json.loads(line) for line in f]

    def journal_lines(self, s):
        lines = []
        for name in sorted(os.listdir(s.journal)):
            with open(os.path.join(s.journal, name)) as f:
                lines += [json.loads(line) for line in f]
        return lines

    def test_a_cut_off_key_never_takes_the_answer_of_a_run_with_its_process_id(self):
        s = self.service()
        b = s.pay("b", operation="purchase", amount=999, currency=643)[1]
        start = [l for l in self.state_lines(s) if l["event"] == "start"][0]
        ends = [l for l in self.journal_lines(s) if l["event"] == "end"]
        # The id brennickd gave before the run is the run's own in the journal.
        self.assertEqual((b["state"], b["run"], ends[0]["run"]), ("approved", start["op"]["run"], start["op"]["run"]))
        # Sale A, cut off before its call line, stood in the state under the
        # process id that B then had, and started before B.
        s.stop()
        with open(os.path.join(s.state, "brennickd-state.jsonl"), "a") as f:
            op = dict(start["op"], run="0123456789abcdef", started="2026-01-01T10:00:00.000+00:00")
            f.write(json.dumps({"event": "start", "key": "a", "hash": start["hash"], "op": op}) + "\n")
            f.write(json.dumps({"event": "process", "key": "a", "pid": ends[0]["pid"]}) + "\n")
        s.start()
        a = s.request("GET", "/v1/operations/a")[1]
        self.assertEqual((a["state"], a["amount"], a["rrn"]), ("unknown", None, None))

    def test_a_second_service_on_one_state_is_refused(self):
        s = self.service()
        run = subprocess.run(s.args, env=s.env, capture_output=True, text=True, timeout=30)
        self.assertEqual(run.returncode, 2)
        self.assertIn("another brennickd (process %d) uses the state folder %s" % (s.process.pid, s.state),
                      run.stderr)
        self.assertEqual(s.pay("still", **SALE)[1]["state"], "approved")

    def test_files_anybody_may_write_are_refused(self):
        s = self.service()
        s.stop()
        config = s.write_config("wait = 5\n")
        for path, mode, args, words in ((config, 0o666, ["--config", config], "configuration file"),
                                        (os.path.join(s.root, "token"), 0o602, [], "may be written by anybody"),
                                        (s.state, 0o777, [], "state folder")):
            os.chmod(path, mode)
            run = subprocess.run(s.args + args, env=s.env, capture_output=True, text=True, timeout=30)
            self.assertEqual(run.returncode, 2, path)
            self.assertIn(words, run.stderr)
            os.chmod(path, 0o700 if os.path.isdir(path) else 0o600)

    def test_no_card_number_in_start_lines_logs_or_unknown_answers(self):
        # The key is the register's own id, kept as it came to be found again;
        # everywhere else it is masked like the trace id.
        s = self.service(env={"PAYSIM_FAULT": "vanish-after"})
        a = s.pay(CARD, operation="purchase", amount=221, trace_id=CARD)[1]
        self.assertEqual(a["state"], "unknown")
        starts = [l["op"] for l in self.state_lines(s) if l["event"] == "start"]
        self.assertEqual(len(starts), 1)
        s.stop(kill=True)
        s.start()
        again = s.request("GET", "/v1/operations/" + CARD)[1]
        with open(s.log) as log:
            for text in (json.dumps(a), json.dumps(again), log.read(), json.dumps(starts)):
                self.assertNotIn(CARD, text)

    def test_a_vanished_log_reader_costs_no_answer(self):
        s = self.service()
        s.stop()
        reader, writer = os.pipe()
        s.process = subprocess.Popen(s.args, env=s.env, stdout=subprocess.PIPE, stderr=writer, text=True)
        os.close(writer)
        s.base = "http://" + s.process.stdout.readline().split()[-1]
        os.close(reader)
        status, a, _ = s.pay("p", **SALE)
        self.assertEqual((status, a["state"]), (200, "approved"))
        self.assertGreater(s.request("GET", "/v1/status")[1]["log_lines_lost"], 0)
        self.assertIsNone(s.process.poll())

    def test_a_flood_on_the_report_channel_is_unknown_and_not_kept(self):
        s = self.service()
        s.stop()
        flood = os.path.join(s.root, "flood.sh")
        with open(flood, "w") as f:
            f.write("#!/bin/sh\nhead -c 100663296 /dev/zero | tr '\\0' x >&3\n")
        os.chmod(flood, 0o755)
        s.args += ["--brennick", flood]
        s.start()
        before = peak_kib(s.process.pid)
        status, a, _ = s.pay("f", **SALE)
        self.assertEqual((status, a["state"]), (200, "unknown"))
        self.assertLess(peak_kib(s.process.pid) - before, 24 * 1024)

    def test_a_reload_during_a_payment_keeps_its_answer_readable(self):
        origin = "http://127.0.0.1:9000"
        s = self.service(env={"PAYSIM_DELAY_MS": "1500"})
        s.stop()
        config = s.write_config("allow-origin = %s\n" % origin)
        s.args += ["--config", config]
        s.start()
        results = []
        paying = threading.Thread(target=lambda: results.append(
            s.request("POST", "/v1/operations", SALE, key="r", headers={"Origin": origin})))
        paying.start()
        time.sleep(0.5)
        with open(config, "w") as f:
            f.write("allow-origin = https://pos.example\n")
        s.process.send_signal(signal.SIGHUP)
        paying.join(10)
        status, a, headers = results[0]
        self.assertEqual((status, a["state"], headers["Access-Control-Allow-Origin"]), (200, "approved", origin))
        after = s.request("GET", "/v1/operations/r", headers={"Origin": origin})[2]
        self.assertIsNone(after["Access-Control-Allow-Origin"])


class Recovery(unittest.TestCase):
    @unittest.skipUnless(BIN, "runs from the POSIX build's tests")
    def test_the_last_operation_settles_only_the_sale_of_its_trace_id(self):
        s = Service(env={"PAYSIM_FAULT": "vanish-after"})
        self.addCleanup(s.close)
        unknown = s.pay("u1", operation="purchase", amount=221, trace_id="A-1", lane="L")[1]
        self.assertEqual((unknown["state"], unknown["resolve"]),
                         ("unknown", "ask the lane's last operation and compare trace_id"))
        s.stop()
        del s.env["PAYSIM_FAULT"]
        s.start()
        # Another sale of the same amount was the terminal's last: it tells
        # nothing about A-1.
        self.assertEqual(s.pay("p2", operation="purchase", amount=221, trace_id="B-2", lane="L")[1]["state"], "approved")
        last = s.pay("q1", operation="last", lane="L")[1]
        self.assertEqual((last["trace_id"], last["amount"]), ("B-2", 221))
        self.assertEqual(s.request("GET", "/v1/operations/u1")[1]["state"], "unknown")


def peak_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))


if __name__ == "__main__":
    unittest.main()
