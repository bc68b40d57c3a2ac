"""Pairing: the administrator's code, a token bound to the page's origin,
its keys its own, the list and revoking."""
import os
import subprocess
import time
import unittest

from service_fixture import BIN, Service

SALE = {"operation": "purchase", "amount": 221, "currency": 643, "trace_id": "T-1"}
PAGE = "https://pos.example"


@unittest.skipUnless(BIN, "runs from the POSIX build's tests")
class Pairing(unittest.TestCase):
    def setUp(self):
        self.s = Service(["--allow-origin", PAGE])
        self.addCleanup(self.s.close)

    def admin(self, *words):
        port = self.s.base.rsplit(":", 1)[1]
        return subprocess.run([os.path.join(BIN, "brennickd"), "--token-file", os.path.join(self.s.root, "token"),
                               "--listen", "127.0.0.1:" + port, *words],
                              capture_output=True, text=True, timeout=30, env=self.s.env)

    def pair(self, code, origin=PAGE):
        return self.s.request("POST", "/v1/pair", {"code": code}, token=None, headers={"Origin": origin})

    def test_pair_waits_for_a_service_that_starts_late(self):
        port = self.s.base.rsplit(":", 1)[1]
        self.s.stop()
        waiting = subprocess.Popen([os.path.join(BIN, "brennickd"), "--token-file", os.path.join(self.s.root, "token"),
                                    "--listen", "127.0.0.1:" + port, "pair"],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=self.s.env)
        self.addCleanup(waiting.kill)
        time.sleep(2)
        self.s.args = [a.replace("127.0.0.1:0", "127.0.0.1:" + port) for a in self.s.args]
        self.s.start()
        out, err = waiting.communicate(timeout=30)
        self.assertEqual(waiting.returncode, 0, err)
        self.assertRegex(out, "^pairing code [0-9]{6} for a pay token")

    def test_a_page_pairs_once_and_its_token_is_its_own(self):
        said = self.admin("pair")
        self.assertEqual(said.returncode, 0, said.stderr)
        code = said.stdout.split()[2]
        self.assertEqual(self.pair(code, "https://other.example")[0], 403)   # not an allowed origin
        status, paired, _ = self.pair(code)
        self.assertEqual((status, paired["scope"]), (200, "pay"))
        self.assertEqual(self.pair(code)[0], 403)   # once
        page = {"Origin": PAGE}
        token = paired["token"]
        s = self.s
        self.assertEqual(s.request("POST", "/v1/operations", SALE, key="k1", token=token, headers=page)[1]["state"],
                         "approved")
        self.assertEqual(s.request("GET", "/v1/operations/k1", token=token, headers=page)[0], 200)
        self.assertEqual(s.request("GET", "/v1/operations/k1", token=token,
                                   headers={"Origin": "https://evil.example"})[0], 403)
        self.assertEqual(s.request("GET", "/v1/operations/k1", token=token)[0], 403)   # no origin at all
        refund = dict(SALE, operation="refund")
        self.assertEqual(s.request("POST", "/v1/operations", refund, key="k2", token=token, headers=page)[0], 403)
        # The terminal's last operation moves no money: the page may ask it,
        # and finds its sales by trace id.
        last = s.request("POST", "/v1/operations", {"operation": "last"}, key="k3", token=token, headers=page)[1]
        self.assertEqual((last["state"], last["amount"], last["currency"]), ("approved", 221, 643))
        found = s.request("GET", "/v1/operations?trace_id=T-1", token=token, headers=page)[1]["operations"]
        self.assertEqual([a["key"] for a in found], ["k1"])
        # The administrator's key is none of the page's business.
        self.assertEqual(s.pay("admins", **SALE)[1]["state"], "approved")
        self.assertEqual(s.request("GET", "/v1/operations/admins", token=token, headers=page)[0], 404)
        self.assertEqual(s.request("POST", "/v1/operations", SALE, key="admins", token=token, headers=page)[0], 422)
        self.assertEqual(s.request("GET", "/v1/operations/k1")[0], 200)

        # Kept across a restart, listed without the secret, then revoked.
        s.stop()
        s.start()
        listed = self.admin("tokens")
        self.assertIn(paired["id"], listed.stdout)
        self.assertIn(PAGE, listed.stdout)
        with open(os.path.join(s.state, "brennickd-tokens.json")) as kept:
            self.assertNotIn(token, listed.stdout + kept.read())
        self.assertEqual(s.request("GET", "/v1/operations/k1", token=token, headers=page)[0], 200)
        self.assertEqual(self.admin("tokens", "--revoke", paired["id"]).returncode, 0)
        self.assertEqual(s.request("GET", "/v1/operations/k1", token=token, headers=page)[0], 401)
        self.assertEqual(s.journal_calls(), 3)   # two sales and the question


if __name__ == "__main__":
    unittest.main()
