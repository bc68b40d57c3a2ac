"""The example web register in headless Chromium, served from a second
local origin, pays through brennickd with fetch; the page shows APPROVED.
Runs with Debian's python3, whose selenium drives Debian's chromium."""
import functools
import http.server
import os
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from service_fixture import BIN, TOKEN, Service  # noqa: E402

PAGES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples", "web")


@unittest.skipUnless(BIN, "runs from the POSIX build's tests")
class Browser(unittest.TestCase):
    def setUp(self):
        class Quiet(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass

        handler = functools.partial(Quiet, directory=PAGES)
        self.pages = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=self.pages.serve_forever, daemon=True).start()
        self.addCleanup(self.pages.server_close)
        self.addCleanup(self.pages.shutdown)
        self.origin = "http://127.0.0.1:%d" % self.pages.server_address[1]
        # A terminal slower than the service waits: the page gets "running"
        # first and asks again until the payment has ended.
        self.service = Service(["--allow-origin", self.origin, "--wait", "1"], env={"PAYSIM_DELAY_MS": "2500"})
        self.addCleanup(self.service.close)

        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service as Driver
        # Profile, caches and Chromium's own temporary files in one folder
        # that goes with the test.
        scratch = tempfile.TemporaryDirectory(prefix="brennickd-browser-")
        self.addCleanup(scratch.cleanup)
        env = dict(os.environ, HOME=scratch.name, TMPDIR=scratch.name)
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        options.add_argument("--user-data-dir=" + os.path.join(scratch.name, "profile"))
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage"):
            options.add_argument(flag)
        self.browser = webdriver.Chrome(service=Driver("/usr/bin/chromedriver", env=env), options=options)
        self.addCleanup(self.browser.quit)

    def test_the_page_pays_and_shows_the_approval(self):
        from selenium.webdriver.common.by import By
        from selenium.webdriver.support.ui import WebDriverWait
        self.browser.get("%s/register.html#service=%s&token=%s" % (self.origin, self.service.base, TOKEN))
        self.browser.find_element(By.ID, "pay").click()
        result = self.browser.find_element(By.ID, "result")
        WebDriverWait(self.browser, 60).until(lambda _: not result.text.startswith(("ready", "paying")))
        self.assertTrue(result.text.startswith("APPROVED 00"), result.text)
        self.assertEqual(self.service.journal_calls(), 1)


if __name__ == "__main__":
    unittest.main()
