"""What brennickd's store, answers, tokens, scopes and report channel do,
held: a cut state line, compaction, days kept, faults through the service,
stand-in Brennicks that lie, revoking, pairing codes, scopes, Hosts,
reloads, origins and headers."""
import json
import os
import signal
import time
import unittest

from service_fixture import BIN, TOKEN, Service, ServiceCase

SALE = {"operation": "purchase", "amount": 221, "currency": 643, "trace_id": "H-1"}
PAGE = "https://pos.example"


@unittest.skipUnless(BIN, "runs from the POSIX build's tests")
class Held(ServiceCase):
    def state(self, s):
        return os.path.join(s.state, "brennickd-state.jsonl")

    def stand_in(self, s, script):
        """Restarts s on a stand-in Brennick: a shell script with the run id."""
        path = os.path.join(s.root, "stand-in.sh")
        with open(path, "w") as f:
            f.write("#!/bin/sh\n" + script)
        os.chmod(path, 0o755)
        s.stop()
        s.args += ["--brennick", path]
        s.start()

    def test_a_cut_last_line_and_what_follows_it(self):
        s = self.service()
        s.stop()
        with open(self.state(s), "a") as f:
            f.write('{"event":"start","key":"cut","hash":"00')   # a power cut in the append
        s.start()
        self.assertEqual(s.pay("after", **SALE)[1]["state"], "approved")
        self.assertEqual(s.request("GET", "/v1/operations/after")[1]["state"], "approved")
        s.stop()
        s.start()
        self.assertEqual(s.request("GET", "/v1/operations/after")[1]["state"], "approved")

    @unittest.skipIf(os.environ.get("BRENNICK_SANITIZED"), "a preloaded library cannot precede the sanitizer")
    def test_a_compaction_that_cannot_flush_keeps_the_old_file(self):
        s = self.service(["--keep-days", "1"])
        s.pay("kept", **SALE)
        s.stop()
        with open(self.state(s), "a") as f:   # expired: the start compacts
            f.write('{"event":"done","key":"old","hash":"0000000000000000","at":%d,"answer":{"state":"approved"}}\n'
                    % (time.time() - 2 * 86400))
        with open(self.state(s)) as f:
            before = f.read()
        s.env.update(LD_PRELOAD=os.path.join(BIN, "failing_flush.so"), BRENNICK_FAIL_FLUSH="fdatasync:EIO:1")
        s.start()
        time.sleep(0.5)
        with open(self.state(s)) as f:
            self.assertEqual(f.read(), before)
        self.assertEqual(s.request("GET", "/v1/operations/kept")[1]["state"], "approved")

    def test_days_kept_are_days_and_an_unknown_key_outlives_compaction(self):
        s = self.service(["--keep-days", "1"], env={"PAYSIM_FAULT": "vanish-after"})
        self.assertEqual(s.pay("lost", **SALE)[1]["state"], "unknown")
        s.stop()
        with open(self.state(s), "a") as f:
            for key, age in (("hours", 3 * 3600), ("days", 2 * 86400)):
                f.write('{"event":"done","key":"%s","hash":"0000000000000000","at":%d,"answer":{"state":"declined"}}\n'
                        % (key, time.time() - age))
        for _ in range(2):
            s.start()
            time.sleep(0.5)
            s.stop()
        s.start()
        self.assertEqual(s.request("GET", "/v1/operations/hours")[0], 200)
        self.assertEqual(s.request("GET", "/v1/operations/days")[0], 404)
        self.assertEqual(s.pay("lost", **SALE)[1]["state"], "unknown")
        self.assertEqual(s.journal_calls(), 1)   # never run again

    def test_exit_after_the_answer_and_a_run_that_reports_nothing(self):
        s = self.service(env={"PAYSIM_FAULT": "exit-after"})
        a = s.pay("exit", **SALE)[1]
        self.assertEqual((a["state"], a["exit"], a["library_fault"], a["rc"]), ("approved", 4, True, "00"))
        self.stand_in(s, 'echo "ERROR: Invalid instance id!" >&2\nexit 2\n')
        a = s.pay("nothing", **SALE)[1]
        self.assertEqual((a["state"], a["text"]), ("not-started", "Invalid instance id!"))

    def test_what_a_stand_in_reports_is_masked_and_a_foreign_end_is_unknown(self):
        s = self.service()
        end = ('{"event":"end","run":"%s","outcome":"completed","exit":0,"ms":1,'
               '"result":{"RC":"00","PAN":"4111111111111111","TEXT_MSG":"CARD 4111111111111111"}}')
        call = '{"event":"call","run":"$BRENNICK_RUN"}'
        self.stand_in(s, "echo '%s' >&3\necho '%s' >&3\n" % (call.replace("$BRENNICK_RUN", "'$BRENNICK_RUN'"),
                                                             end % "'$BRENNICK_RUN'"))
        a = s.pay("masked", **SALE)[1]
        self.assertEqual(a["state"], "approved")
        with open(self.state(s)) as f:
            for text in (json.dumps(a), f.read()):
                self.assertNotIn("4111111111111111", text)
        self.stand_in(s, "echo '%s' >&3\necho '%s' >&3\n" % (call.replace("$BRENNICK_RUN", "'$BRENNICK_RUN'"),
                                                             end % "0123456789abcdef"))
        self.assertEqual(s.pay("foreign", **SALE)[1]["state"], "unknown")

    def test_revoking_pairing_codes_scopes_and_hosts(self):
        s = self.service(["--allow-origin", PAGE])
        port = s.base.rsplit(":", 1)[1]
        page = {"Origin": PAGE}
        code = s.request("POST", "/v1/pairing-codes", {})[1]
        self.assertEqual(code["scope"], "pay")   # a code asked without a scope
        paired = s.request("POST", "/v1/pair", {"code": code["code"]}, token=None, headers=page)[1]
        for bad in ("", paired["id"][:5], "t-"):
            self.assertEqual(s.request("DELETE", "/v1/tokens/" + bad)[0], 404, bad)
        self.assertEqual(s.request("GET", "/v1/operations/none", token=paired["token"], headers=page)[0], 404)
        # Five wrong codes void the pending ones, also after a new one is made.
        voided = s.request("POST", "/v1/pairing-codes", {"scope": "pay"})[1]["code"]
        for _ in range(5):
            s.request("POST", "/v1/pair", {"code": "000000" if voided != "000000" else "111111"}, token=None, headers=page)
        fresh = s.request("POST", "/v1/pairing-codes", {"scope": "pay"})[1]["code"]
        self.assertEqual(s.request("POST", "/v1/pair", {"code": voided}, token=None, headers=page)[0], 403)
        self.assertEqual(s.request("POST", "/v1/pair", {"code": fresh}, token=None, headers=page)[0], 200)
        # A page's token names no operation by number, and no administration.
        for number in (2, 3, 7):
            body = dict(SALE, operation=number)
            self.assertEqual(s.request("POST", "/v1/operations", body, key="n%d" % number, token=paired["token"],
                                       headers=page)[0], 403)
        for path, method in (("/v1/pairing-codes", "POST"), ("/v1/tokens", "GET")):
            self.assertEqual(s.request(method, path, {}, token=paired["token"], headers=page)[0], 403)
        self.assertEqual(s.journal_calls(), 0)
        self.assertEqual(s.request("GET", "/v1/status", headers={"Host": "localhost.evil.example:" + port})[0], 421)
        headers = {"X-Field-%d" % i: "x" for i in range(65)}
        self.assertEqual(s.request("GET", "/v1/health", token=None, headers=headers)[0], 431)

    def test_a_reload_refuses_a_bad_token_file_and_the_command_line_replaces_the_files_origins(self):
        s = self.service()
        s.stop()
        config = s.write_config("allow-origin = https://file.example\n")
        s.args += ["--config", config, "--allow-origin", PAGE]
        s.start()
        for origin, allowed in (("https://file.example", None), (PAGE, PAGE)):
            self.assertEqual(s.request("GET", "/v1/status", headers={"Origin": origin})[2]
                             ["Access-Control-Allow-Origin"], allowed)
        token = os.path.join(s.root, "token")
        for mode, text in ((0o644, "new-token-0123456789abcdef"), (0o600, "short")):
            with open(token, "w") as f:
                f.write(text + "\n")
            os.chmod(token, mode)
            s.process.send_signal(signal.SIGHUP)
            time.sleep(0.3)
            self.assertEqual(s.request("GET", "/v1/status", token=TOKEN)[0], 200, mode)


if __name__ == "__main__":
    unittest.main()
