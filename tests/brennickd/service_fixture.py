"""Starts brennickd against the simulator in a scratch folder of its own:
registry, exchange folder, journal, state and token. BRENNICK_BIN names the
folder of brennick, brennickd and libpaysim.so."""
import json
import os
import subprocess
import tempfile
import unittest
import urllib.error
import urllib.request

BIN = os.environ.get("BRENNICK_BIN", "")
TOKEN = "test-token-0123456789abcdef"
# A terminal that approves in part with the words of a Cyrillic code page.
PARTIAL_APPROVAL_1251 = ((258, b"10\0"), (586, "ОДОБРЕНО ЧАСТИЧНО".encode("cp1251") + b"\0"))


class ServiceCase(unittest.TestCase):
    """A test case whose services go with it, passed or not."""
    def service(self, *args, **kwargs):
        s = Service(*args, **kwargs)
        self.addCleanup(s.close)
        return s


class Service:
    def __init__(self, extra_args=(), env=None, root=None):
        self.tmp = None
        if root is None:
            self.tmp = tempfile.TemporaryDirectory(prefix="brennickd-")
            root = self.tmp.name
        self.root = root
        self.exchange = os.path.join(root, "exchange")
        self.journal = os.path.join(root, "journal")
        self.state = os.path.join(root, "state")
        self.key = key = os.path.join(root, "registry", "software", "Merot", "Dovrex Auth Library")
        for folder in (self.exchange, self.journal, self.state, key, os.path.join(root, "sim")):
            os.makedirs(folder, exist_ok=True)
        for name, value in (("LocationPath", os.path.join(BIN, "libpaysim.so")),
                            ("ExchangePath", self.exchange), ("JournalPath", self.journal)):
            with open(os.path.join(key, name), "w") as f:
                f.write(value + "\n")
        with open(os.path.join(root, "token"), "w") as f:
            f.write(TOKEN + "\n")
        os.chmod(os.path.join(root, "token"), 0o600)   # a readable token is refused
        self.env = dict(os.environ, BRENNICK_REGISTRY=os.path.join(root, "registry"),
                        PAYSIM_STATE_DIR=os.path.join(root, "sim"), **(env or {}))
        self.args = [os.path.join(BIN, "brennickd"), "--token-file", os.path.join(root, "token"),
                     "--state", self.state, "--listen", "127.0.0.1:0", *extra_args]
        self.process = None
        self.start()

    def start(self):
        # Its log (standard error) goes to a file of the test's own.
        self.log = os.path.join(self.root, "brennickd.log")
        with open(self.log, "a") as log:
            self.process = subprocess.Popen(self.args, env=self.env, stdout=subprocess.PIPE, stderr=log, text=True)
        line = self.process.stdout.readline()
        if not line.startswith("brennickd listening on "):
            self.process.kill()
            with open(self.log) as log:
                raise RuntimeError("brennickd did not start: %r %s" % (line, log.read()))
        self.base = "http://" + line.split()[-1]

    def write_config(self, text):
        """A configuration file in the service's folder; returns its path."""
        path = os.path.join(self.root, "brennickd.conf")
        with open(path, "w") as f:
            f.write(text)
        return path

    def answer_with_fixture(self, fields=(), **env):
        """Restarts on the test library instead of the simulator; it writes
        each (offset, bytes) of fields into the record, env set for its runs."""
        fixture = os.path.join(self.root, "fixture")
        os.makedirs(fixture, exist_ok=True)
        with open(os.path.join(self.key, "LocationPath"), "w") as f:
            f.write(os.path.join(BIN, "fixture_full.so") + "\n")
        with open(os.path.join(fixture, "answer.txt"), "w") as f:
            for offset, value in fields:
                f.write("%d %s\n" % (offset, value.hex()))
        self.stop()
        self.env.update(BRENNICK_FIXTURE_DIR=fixture, **env)
        self.start()

    def stop(self, kill=False):
        if self.process and self.process.poll() is None:
            self.process.kill() if kill else self.process.terminate()
            self.process.wait(10)
        if self.process:
            self.process.stdout.close()

    def close(self):
        self.stop()
        if self.tmp:
            self.tmp.cleanup()

    def request(self, method, path, body=None, key=None, token=TOKEN, headers=None, raw=None):
        """(status, parsed JSON or None, response headers)."""
        data = raw if raw is not None else (json.dumps(body).encode() if body is not None else None)
        req = urllib.request.Request(self.base + path, data=data, method=method)
        if token:
            req.add_header("Authorization", "Bearer " + token)
        if key:
            req.add_header("Idempotency-Key", key)
        for name, value in (headers or {}).items():
            req.add_header(name, value)
        try:
            with urllib.request.urlopen(req, timeout=60) as r:
                text = r.read()
                return r.status, (json.loads(text) if text else None), r.headers
        except urllib.error.HTTPError as e:
            text = e.read()
            return e.code, (json.loads(text) if text else None), e.headers

    def pay(self, key, **body):
        return self.request("POST", "/v1/operations", body, key=key)

    def journal_calls(self):
        calls = 0
        for name in os.listdir(self.journal):
            with open(os.path.join(self.journal, name)) as f:
                calls += sum(1 for line in f if '"event":"call"' in line)
        return calls
