"""brennickd's API against the simulator: answers, refusals, idempotency,
a restart during a run, CORS."""
import threading
import time
import unittest

from service_fixture import BIN, Service


@unittest.skipUnless(BIN, "runs from the POSIX build's tests")
class Api(unittest.TestCase):
    def setUp(self):
        self.service = Service(["--allow-origin", "http://127.0.0.1:9000"])
        self.addCleanup(self.service.close)

    def test_approval_and_decline(self):
        status, a, _ = self.service.pay("sale-1", operation="purchase", amount=221, currency=643,
                                        trace_id="INV-0042")
        self.assertEqual(status, 200)
        self.assertEqual((a["state"], a["exit"], a["rc"], a["card"]), ("approved", 0, "00", "411111******1111"))
        self.assertTrue(a["slip"].startswith("** SIMULATOR **\nSALE 2.21 643\n"))
        status, a, _ = self.service.pay("sale-2", operation="purchase", amount="10051", lane="2")
        self.assertEqual((status, a["state"], a["rc"], a["text"]), (200, "declined", "51", "INSUFFICIENT FUNDS"))
        status, a, _ = self.service.request("GET", "/v1/operations/sale-2")
        self.assertEqual((status, a["rc"]), (200, "51"))

    def test_refusals(self):
        pay = self.service.pay
        for body, field in (({"operation": "purchase", "amount": "22/1"}, "amount"),
                            ({"operation": "purchase", "trace_id": "INV 42"}, "trace_id"),
                            ({"operation": "purchase", "trace_id": "INV/quarnid7"}, "trace_id"),
                            ({"operation": "purchase", "lane": "a*b"}, "lane"),
                            ({"operation": "purchase", "currency": 64300}, "currency"),
                            ({"operation": "steal"}, "operation"),
                            ({"operation": "purchase", "card": "4111111111111111"}, "card")):
            status, a, _ = pay("bad", **body)
            self.assertEqual((status, a.get("field")), (400, field), body)
        self.assertEqual(self.service.request("POST", "/v1/operations", raw=b"{nope", key="bad")[0], 400)
        self.assertEqual(pay("no spaces allowed", operation="purchase")[0], 400)
        self.assertEqual(self.service.request("GET", "/v1/status", token="wrong-token-0123456789")[0], 401)
        self.assertEqual(self.service.request("GET", "/v1/status", token=None)[0], 401)
        big = b'{"operation":"purchase","trace_id":"' + b"x" * 17000 + b'"}'
        self.assertEqual(self.service.request("POST", "/v1/operations", raw=big, key="big")[0], 413)
        self.assertEqual(self.service.request("GET", "/v1/operations/never")[0], 404)
        self.assertEqual(self.service.journal_calls(), 0)

    def test_values_of_exactly_the_field_width_and_one_more(self):
        full = {"operation": "purchase", "amount": "1" * 13, "rrn": "R" * 13, "auth_code": "A" * 9,
                "terminal_id": "T" * 9, "trace_id": "B" * 61, "lane": "L" * 19}
        status, a, _ = self.service.pay("k" * 64, **full)
        self.assertEqual(status, 200, a)
        for field in ("amount", "rrn", "auth_code", "terminal_id", "trace_id", "lane"):
            longer = dict(full, **{field: full[field] + full[field][0]})
            status, a, _ = self.service.pay("longer", **longer)
            self.assertEqual((status, a.get("field")), (400, field))
        self.assertEqual(self.service.pay("k" * 65, operation="purchase")[1]["field"], "Idempotency-Key")
        self.assertEqual(self.service.journal_calls(), 1)

    def test_tokens_that_only_resemble_the_real_one(self):
        from service_fixture import TOKEN
        for header in ("Bearer " + TOKEN[:-1], "Bearer ", "Bearer", "Bearer " + TOKEN + "x"):
            self.assertEqual(self.service.request("GET", "/v1/status", token=None,
                                                  headers={"Authorization": header})[0], 401, header)

    def test_origins_that_only_start_like_an_allowed_one(self):
        for origin in ("http://127.0.0.1:9000.evil.example", "http://127.0.0.1:90001", "http://127.0.0.1:900"):
            _, _, h = self.service.request("OPTIONS", "/v1/operations", token=None,
                                           headers={"Origin": origin, "Access-Control-Request-Method": "POST"})
            self.assertIsNone(h["Access-Control-Allow-Origin"], origin)
            _, _, h = self.service.request("GET", "/v1/status", headers={"Origin": origin})
            self.assertIsNone(h["Access-Control-Allow-Origin"], origin)

    def test_cors_for_allowed_origins_only(self):
        ask = {"Origin": "http://127.0.0.1:9000", "Access-Control-Request-Method": "POST",
               "Access-Control-Request-Private-Network": "true"}
        status, _, h = self.service.request("OPTIONS", "/v1/operations", token=None, headers=ask)
        self.assertEqual(status, 204)
        self.assertEqual(h["Access-Control-Allow-Origin"], "http://127.0.0.1:9000")
        self.assertEqual(h["Access-Control-Allow-Private-Network"], "true")
        self.assertIn("Idempotency-Key", h["Access-Control-Allow-Headers"])
        ask["Origin"] = "http://127.0.0.1:9001"   # not allowed
        status, _, h = self.service.request("OPTIONS", "/v1/operations", token=None, headers=ask)
        self.assertEqual(status, 204)
        self.assertIsNone(h["Access-Control-Allow-Origin"])


@unittest.skipUnless(BIN, "runs from the POSIX build's tests")
class SlowTerminal(unittest.TestCase):
    def setUp(self):
        self.service = Service(env={"PAYSIM_DELAY_MS": "1500"})
        self.addCleanup(self.service.close)

    def test_a_key_runs_once_and_its_lane_is_held(self):
        answers = []
        first = threading.Thread(target=lambda: answers.append(
            self.service.pay("k", operation="purchase", amount=221, lane="1")))
        first.start()
        time.sleep(0.5)
        status, a, _ = self.service.request("GET", "/v1/operations/k")
        self.assertEqual((status, a["state"]), (202, "running"))
        self.assertEqual(self.service.request("GET", "/v1/status")[1]["busy_lanes"], ["1"])
        self.assertEqual(self.service.pay("other", operation="purchase", amount=5, lane="1")[0], 409)
        self.assertEqual(self.service.pay("k", operation="purchase", amount=222, lane="1")[0], 422)
        during = self.service.pay("k", operation="purchase", amount=221, lane="1")   # waits
        first.join()
        after = self.service.pay("k", operation="purchase", amount=221, lane="1")
        self.assertEqual(answers[0][1], during[1])
        self.assertEqual(during[1], after[1])
        self.assertEqual(during[1]["state"], "approved")
        self.assertEqual(self.service.journal_calls(), 1)

    def test_operations_without_a_lane_share_one_and_free_it(self):
        first = threading.Thread(target=lambda: self.service.pay("one", operation="purchase", amount=221))
        first.start()
        time.sleep(0.5)
        self.assertEqual(self.service.pay("two", operation="purchase", amount=5)[0], 409)
        first.join()
        self.assertEqual(self.service.request("GET", "/v1/status")[1]["busy_lanes"], [])
        self.assertEqual(self.service.pay("three", operation="purchase", amount=5)[1]["state"], "approved")
        self.assertEqual(self.service.journal_calls(), 2)

    def test_a_restart_during_a_run_answers_unknown_and_never_runs_it_again(self):
        threading.Thread(target=lambda: self._quietly(self.service.pay, "k", operation="purchase",
                                                      amount=221), daemon=True).start()
        time.sleep(0.5)
        self.service.stop(kill=True)
        self.service.start()
        status, a, _ = self.service.request("GET", "/v1/operations/k")
        self.assertEqual((status, a["state"]), (200, "unknown"))
        status, a, _ = self.service.pay("k", operation="purchase", amount=221)
        self.assertEqual((status, a["state"]), (200, "unknown"))
        time.sleep(1.5)   # the run of the killed service ends on its own
        self.assertEqual(self.service.journal_calls(), 1)

    @staticmethod
    def _quietly(f, *args, **kwargs):
        try:
            f(*args, **kwargs)
        except OSError:
            pass


if __name__ == "__main__":
    unittest.main()
