"""brennickd-client in headless Chromium against brennickd and the
simulator: a decline, a busy lane, a reload during the run that pays once,
and an unknown payment settled from the terminal's last operation after
brennickd was killed during the run. Runs with Debian's python3."""
import os
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from service_fixture import BIN, Service  # noqa: E402
from test_browser import BrowserCase  # noqa: E402

# Runs a step of the client in the page: arguments[0] the service, [1] the
# step's body (an async function of the client c and the module m).
RUN = """
const done = arguments[arguments.length - 1];
import("/clients/js/brennickd-client.js").then(async m => {
  const c = new m.BrennickdClient({service: arguments[0], pollMs: 300, retries: 1});
  try { done({answer: await (new Function("c", "m", "return (async () => {" + arguments[1] + "})()"))(c, m)}); }
  catch (e) { done({error: e.kind || String(e), message: e.message, heldBy: e.heldBy, since: e.since}); }
});"""


@unittest.skipUnless(BIN, "runs from the POSIX build's tests")
class Client(BrowserCase):
    def page(self, service):
        origin = self.serve_pages(https=False)
        service.stop()
        service.args += ["--allow-origin", origin]
        service.start()
        browser = self.open_browser()
        browser.set_script_timeout(60)
        browser.get("%s/examples/web/register.html#service=%s" % (origin, service.base))
        code = service.request("POST", "/v1/pairing-codes", {"scope": "pay"})[1]["code"]
        self.assertIn("answer", self.step(browser, service, "await c.pair('%s'); return 1;" % code))
        return browser

    def step(self, browser, service, body):
        return browser.execute_async_script(RUN, service.base, body)

    def service(self, **env):
        s = Service(env=env)
        self.addCleanup(s.close)
        # A port of its own that a restart keeps: the page knows it.
        s.stop()
        port = s.base.rsplit(":", 1)[1]
        s.args = [a.replace("127.0.0.1:0", "127.0.0.1:" + port) for a in s.args]
        s.start()
        return s

    def test_a_decline_and_a_busy_lane(self):
        s = self.service(PAYSIM_DELAY_MS="2500")
        browser = self.page(s)
        declined = self.step(browser, s, "return await c.pay({amount: 10051, currency: 643, traceId: 'D-1'});")
        self.assertEqual((declined["answer"]["state"], declined["answer"]["rc"]), ("declined", "51"))
        held = threading.Thread(target=s.pay, args=("holder",), kwargs={"operation": "purchase", "amount": 5, "lane": "L1"})
        held.start()
        time.sleep(0.8)
        busy = self.step(browser, s, "try { return await c.pay({amount: 6, lane: 'L1'}); } finally { window.left = c.pending; }")
        held.join(30)
        self.assertEqual(busy["error"], "busy")
        self.assertTrue(busy["since"])
        self.assertIsNone(busy.get("heldBy"))   # the admin's key: not this page's to see
        self.assertIsNone(browser.execute_script("return window.left"))   # nothing ran: no key kept

    def test_a_reload_during_the_run_pays_once(self):
        from selenium.webdriver.common.by import By
        from selenium.webdriver.support.ui import WebDriverWait
        s = self.service(PAYSIM_DELAY_MS="3000")
        browser = self.page(s)
        browser.refresh()
        result = browser.find_element(By.ID, "result")
        browser.find_element(By.ID, "pay").click()
        time.sleep(1)
        browser.refresh()   # the payment runs on; the page finds it again
        result = browser.find_element(By.ID, "result")
        WebDriverWait(browser, 30).until(lambda _: result.text.startswith(("APPROVED", "DECLINED", "NO ANSWER")))
        self.assertTrue(result.text.startswith("APPROVED 00"), result.text)
        self.assertEqual(s.journal_calls(), 1)

    def test_an_unknown_payment_is_settled_from_the_terminals_last_operation(self):
        # The terminal approves, then Brennick vanishes without its end line,
        # and brennickd is killed during the run: nobody heard the answer.
        s = self.service(PAYSIM_DELAY_MS="2000", PAYSIM_FAULT="vanish-after")
        browser = self.page(s)
        self.step(browser, s, "c.pay({amount: 221, currency: 643, traceId: 'INV-88'}).catch(() => 0); return 1;")
        time.sleep(1)
        s.stop(kill=True)
        time.sleep(2.5)
        del s.env["PAYSIM_FAULT"]
        s.start()
        settled = self.step(browser, s, "return await c.resume();")["answer"]
        self.assertEqual((settled["state"], settled["rc"], settled["trace_id"]), ("approved", "00", "INV-88"))
        again = s.request("GET", "/v1/operations/" + settled["key"])[1]
        self.assertEqual((again["state"], again["amount"]), ("approved", 221))
        self.assertEqual(s.journal_calls(), 2)   # the sale and the question, never a second sale

if __name__ == "__main__":
    unittest.main()
