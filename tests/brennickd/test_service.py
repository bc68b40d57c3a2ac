"""brennickd as an administrator and a register meet it: checks at start,
health without a token, a log without secrets, the terminal's code page,
the token's words."""
import os
import signal
import subprocess
import threading
import time
import unittest

from service_fixture import BIN, PARTIAL_APPROVAL_1251, TOKEN, Service, ServiceCase

SALE = {"operation": "purchase", "amount": 221, "currency": 643}


@unittest.skipUnless(BIN, "runs from the POSIX build's tests")
class ServiceChecks(ServiceCase):
    def test_a_start_without_a_writable_exchange_folder_names_the_setting(self):
        s = self.service()
        s.stop()
        os.rmdir(s.exchange)
        run = subprocess.run(s.args, env=s.env, capture_output=True, text=True, timeout=30)
        self.assertEqual(run.returncode, 2)
        self.assertIn("the exchange folder (ExchangePath) %s is not a folder" % s.exchange, run.stderr)

    def test_health_opens_the_result_files_a_payment_writes(self):
        s = self.service()
        self.assertEqual(s.pay("first", **SALE)[1]["state"], "approved")
        dat = os.path.join(s.exchange, "output.dat")
        # Left by another user of the folder, not writable for the service
        # (root writes through any mode: only the immutable flag stops it).
        lock = ["chattr", "+i", dat] if os.geteuid() == 0 else ["chmod", "0444", dat]
        if subprocess.run(lock, capture_output=True).returncode != 0:
            self.skipTest("no read-only files here")
        self.addCleanup(subprocess.run, ["chattr", "-i", dat] if os.geteuid() == 0 else ["chmod", "0644", dat])
        self.assertEqual(s.request("GET", "/v1/health", token=None)[0], 503)
        self.assertIn("result file %s cannot be opened for writing" % dat,
                      s.request("GET", "/v1/status")[1]["checks"]["exchange"])

    def test_health_log_and_the_tokens_words(self):
        s = self.service()
        # Healthy on the simulator, and saying so: no money moves there.
        self.assertEqual(s.request("GET", "/v1/health", token=None)[:2], (200, {"ok": True, "simulator": True}))
        self.assertTrue(s.request("GET", "/v1/status")[1]["simulator"])
        self.assertEqual(s.request("GET", "/v1/status", token="x" * 30)[1]["error"], "the token is not valid")
        self.assertEqual(s.request("GET", "/v1/status", token=None)[1]["error"], "a bearer token is required")
        self.assertEqual(s.request("GET", "/v1/status", token=None,
                                   headers={"Authorization": "bearer " + TOKEN})[0], 200)
        self.assertEqual(s.pay("logged", trace_id="4111111111111111", **SALE)[1]["state"], "approved")
        s.stop()
        with open(s.log) as f:
            log = f.read()
        self.assertRegex(log, r"POST /v1/operations 200 key=logged ms=\d+ outcome=approved\n")
        self.assertNotIn(TOKEN, log)
        self.assertNotIn("4111111111111111", log)
        os.chmod(s.exchange, 0o500)
        self.addCleanup(os.chmod, s.exchange, 0o700)
        if os.geteuid() != 0:   # root writes anywhere
            s.start()
            self.assertEqual(s.request("GET", "/v1/health", token=None)[0], 503)

    def test_tokens_a_pay_token_pays_only_and_a_readable_token_is_refused(self):
        s = self.service()
        s.stop()
        pay_token = os.path.join(s.root, "pay.token")
        made = subprocess.run([os.path.join(BIN, "brennickd"), "--make-token", pay_token])
        self.assertEqual(made.returncode, 0)
        self.assertEqual(os.stat(pay_token).st_mode & 0o777, 0o640)
        with open(pay_token) as f:
            token = f.read().strip()
        self.assertRegex(token, "^[0-9a-f]{64}$")
        # An installer runs it at every upgrade: the token stays, and the
        # configuration that names it is written once.
        conf = os.path.join(s.root, "made.conf")
        again = subprocess.run([os.path.join(BIN, "brennickd"), "--make-token", pay_token, "--config-file", conf])
        self.assertEqual(again.returncode, 0)
        with open(pay_token) as f, open(conf) as c:
            self.assertEqual((f.read().strip(), c.read().splitlines()[1:]),
                             (token, ["token-file = " + pay_token, "state = " + s.root]))
        s.args += ["--pay-token-file", pay_token]
        s.start()
        pay = {"Authorization": "Bearer " + token}
        self.assertEqual(s.request("POST", "/v1/operations", SALE, key="p1", token=None, headers=pay)[1]["state"],
                         "approved")
        refund = dict(SALE, operation="refund")
        self.assertEqual(s.request("POST", "/v1/operations", refund, key="p2", token=None, headers=pay)[0], 403)
        self.assertEqual(s.request("GET", "/v1/status", token=None, headers=pay)[0], 403)
        self.assertEqual(s.journal_calls(), 1)
        s.stop()
        os.chmod(pay_token, 0o644)
        run = subprocess.run(s.args, env=s.env, capture_output=True, text=True, timeout=30)
        self.assertEqual(run.returncode, 2)
        self.assertIn("may be read by anybody", run.stderr)

    def test_a_reload_takes_the_new_file_and_token_while_a_payment_runs(self):
        s = self.service(env={"PAYSIM_DELAY_MS": "1500"})
        s.stop()
        config = s.write_config("# a register's page\nallow-origin = http://127.0.0.1:9000\n")
        s.args += ["--config", config]
        s.start()
        paying = threading.Thread(target=lambda: results.append(s.pay("slow", **SALE)))
        results = []
        paying.start()
        time.sleep(0.5)
        with open(config, "w") as f:
            f.write("allow-origin = https://pos.example\n")
        new_token = "new-token-0123456789abcdef"
        with open(os.path.join(s.root, "token"), "w") as f:
            f.write(new_token + "\n")
        s.process.send_signal(signal.SIGHUP)
        time.sleep(0.3)
        paying.join(10)
        self.assertEqual(results[0][1]["state"], "approved")   # asked with the old token, answered
        self.assertEqual(s.request("GET", "/v1/status")[0], 401)
        _, _, h = s.request("GET", "/v1/status", token=new_token, headers={"Origin": "https://pos.example"})
        self.assertEqual(h["Access-Control-Allow-Origin"], "https://pos.example")
        s.stop()
        with open(config, "w") as f:
            f.write("allow-origin = https://pos.example/\n")
        run = subprocess.run(s.args, env=s.env, capture_output=True, text=True, timeout=30)
        self.assertEqual(run.returncode, 2)
        self.assertIn("--allow-origin https://pos.example/: not an origin", run.stderr)

    def test_the_terminals_code_page_and_approved_codes(self):
        s = self.service(["--code-page", "windows-1251", "--approved-codes", "00,10"])
        s.answer_with_fixture(PARTIAL_APPROVAL_1251)
        a = s.pay("cyrillic", **SALE)[1]
        self.assertEqual((a["state"], a["rc"], a["text"]), ("approved", "10", "ОДОБРЕНО ЧАСТИЧНО"))


if __name__ == "__main__":
    unittest.main()
