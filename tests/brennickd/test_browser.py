"""The example web register in headless Chromium, served from a second
local origin (plain http, and https with a certificate made here), pairs
with brennickd and pays with fetch. Runs with Debian's python3, whose
selenium drives Debian's chromium."""
import functools
import http.server
import os
import ssl
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from service_fixture import BIN, PARTIAL_APPROVAL_1251, Service  # noqa: E402

# The repository's root: the page imports the client from clients/js.
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


class BrowserCase(unittest.TestCase):
    """Pages served from the repository, a fresh headless Chromium."""
    def setUp(self):
        # Profile, caches, certificate and Chromium's temporary files in one
        # folder that goes with the test.
        scratch = tempfile.TemporaryDirectory(prefix="brennickd-browser-")
        self.addCleanup(scratch.cleanup)
        self.scratch = scratch.name

    def serve_pages(self, https):
        class Quiet(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass

        pages = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=ROOT))
        if https:
            cert, key = (os.path.join(self.scratch, name) for name in ("cert.pem", "key.pem"))
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                            "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                            "-keyout", key, "-out", cert], check=True, capture_output=True)
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(cert, key)
            pages.socket = context.wrap_socket(pages.socket, server_side=True)
        threading.Thread(target=pages.serve_forever, daemon=True).start()
        self.addCleanup(pages.server_close)
        self.addCleanup(pages.shutdown)
        return "%s://127.0.0.1:%d" % ("https" if https else "http", pages.server_address[1])

    def open_browser(self):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service as Driver
        env = dict(os.environ, HOME=self.scratch, TMPDIR=self.scratch)
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        options.add_argument("--user-data-dir=" + os.path.join(self.scratch, "profile"))
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", "--ignore-certificate-errors"):
            options.add_argument(flag)
        browser = webdriver.Chrome(service=Driver("/usr/bin/chromedriver", env=env), options=options)
        self.addCleanup(browser.quit)
        return browser



@unittest.skipUnless(BIN, "runs from the POSIX build's tests")
class Browser(BrowserCase):
    def pair_and_pay(self, origin, service):
        from selenium.webdriver.common.by import By
        from selenium.webdriver.support.ui import WebDriverWait
        browser = self.open_browser()
        browser.get("%s/examples/web/register.html#service=%s" % (origin, service.base))
        result = browser.find_element(By.ID, "result")
        self.assertTrue(result.text.startswith("not paired"), result.text)
        code = service.request("POST", "/v1/pairing-codes", {"scope": "pay"})[1]["code"]
        browser.find_element(By.ID, "code").send_keys(code)
        browser.find_element(By.ID, "pair").click()
        WebDriverWait(browser, 30).until(lambda _: result.text != "" and not result.text.startswith("not paired"))
        self.assertEqual(result.text, "paired")
        self.assertNotIn(code, browser.current_url)
        browser.find_element(By.ID, "pay").click()
        WebDriverWait(browser, 60).until(lambda _: not result.text.startswith(("paired", "paying")))
        return result.text

    def test_an_https_page_pairs_and_pays_and_shows_the_terminals_letters(self):
        origin = self.serve_pages(https=True)
        service = Service(["--allow-origin", origin, "--code-page", "windows-1251", "--approved-codes", "00,10"])
        self.addCleanup(service.close)
        service.answer_with_fixture(PARTIAL_APPROVAL_1251)
        self.assertEqual(self.pair_and_pay(origin, service), "APPROVED 10 ОДОБРЕНО ЧАСТИЧНО")

    def test_a_slow_payment_is_asked_for_again_until_it_ends(self):
        origin = self.serve_pages(https=False)
        # A terminal slower than the service waits: the page gets "running"
        # first and asks again until the payment has ended.
        service = Service(["--allow-origin", origin, "--wait", "1"], env={"PAYSIM_DELAY_MS": "2500"})
        self.addCleanup(service.close)
        self.assertTrue(self.pair_and_pay(origin, service).startswith("APPROVED 00"))
        self.assertEqual(service.journal_calls(), 1)

    def test_a_token_revoked_while_polling_keeps_the_key_and_pairing_again_finishes_it(self):
        from selenium.webdriver.common.by import By
        from selenium.webdriver.support.ui import WebDriverWait
        origin = self.serve_pages(https=False)
        service = Service(["--allow-origin", origin, "--wait", "1"], env={"PAYSIM_DELAY_MS": "4000"})
        self.addCleanup(service.close)
        browser = self.open_browser()
        browser.get("%s/examples/web/register.html#service=%s" % (origin, service.base))
        result = browser.find_element(By.ID, "result")

        def pair():
            code = service.request("POST", "/v1/pairing-codes", {"scope": "pay"})[1]["code"]
            browser.find_element(By.ID, "code").clear()
            browser.find_element(By.ID, "code").send_keys(code)
            browser.find_element(By.ID, "pair").click()
        pair()
        WebDriverWait(browser, 30).until(lambda _: result.text == "paired")
        browser.find_element(By.ID, "pay").click()
        WebDriverWait(browser, 30).until(lambda _: "waiting for the terminal" in result.text)
        token = service.request("GET", "/v1/tokens")[1]["tokens"][0]["id"]
        self.assertEqual(service.request("DELETE", "/v1/tokens/" + token)[0], 200)
        WebDriverWait(browser, 30).until(lambda _: "NOT PAIRED" in result.text)
        pair()
        WebDriverWait(browser, 60).until(lambda _: result.text.startswith(("APPROVED", "REFUSED", "DECLINED")))
        self.assertTrue(result.text.startswith("APPROVED 00"), result.text)
        self.assertEqual(service.journal_calls(), 1)


if __name__ == "__main__":
    unittest.main()
