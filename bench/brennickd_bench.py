#!/usr/bin/env python3
"""What brennickd adds to a payment, and whether it loses or doubles one
under load, against the simulator:

- the median time of a purchase through the service against the same
  purchase run directly (goal: at most 5 ms more);
- 200 purchases from 8 concurrent clients over 4 lanes: every accepted key
  has exactly one journal call line, every refused one (409, lane busy)
  none;
- a start with 200,000 stored operations: the time until a stored answer
  is served, and the memory held then (goals: 1 s, 64 MiB).

    python3 bench/brennickd_bench.py [--runs 50]

Exits 1 when a run is lost or doubled; the timing goal is reported."""
import argparse
import json
import os
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "native", "bin")
os.environ.setdefault("BRENNICK_BIN", BIN)
sys.path.insert(0, os.path.join(ROOT, "tests", "brennickd"))
from service_fixture import Service  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=50)
    args = parser.parse_args()
    service = Service(env={"PAYSIM_NOW": "2026-12-08T14:30:05"})
    try:
        direct, through = [], []
        for i in range(args.runs):
            # Interleaved, so that both see the same machine.
            start = time.perf_counter()
            subprocess.run([os.path.join(BIN, "brennick"), "/o1", "/a221", "/c643"], env=service.env,
                           cwd=service.root, check=True, stdout=subprocess.DEVNULL)
            direct.append(time.perf_counter() - start)
            start = time.perf_counter()
            status, answer, _ = service.pay("timing-%d" % i, operation="purchase", amount=221, currency=643)
            through.append(time.perf_counter() - start)
            if status != 200 or answer["state"] != "approved":
                sys.exit("a timed purchase was not approved: %s %s" % (status, answer))
        added = (statistics.median(through) - statistics.median(direct)) * 1e3
        print("direct run: %.2f ms, through brennickd: %.2f ms (medians of %d)"
              % (statistics.median(direct) * 1e3, statistics.median(through) * 1e3, args.runs))
        print("added per operation: %.2f ms (goal: at most 5 ms) %s"
              % (added, "met" if added <= 5 else "MISSED"))

        calls_before = service.journal_calls()
        accepted, refused, other = [], [], []
        lock = threading.Lock()

        def client(n):
            for i in range(25):
                key = "load-%d-%d" % (n, i)
                status, answer, _ = service.pay(key, operation="purchase", amount=100 + i, lane=str(n % 4))
                with lock:
                    (accepted if status == 200 else refused if status == 409 else other).append(key)

        start = time.perf_counter()
        clients = [threading.Thread(target=client, args=(n,)) for n in range(8)]
        for c in clients:
            c.start()
        for c in clients:
            c.join()
        seconds = time.perf_counter() - start
        calls = service.journal_calls() - calls_before
        print("load: 200 requests from 8 clients over 4 lanes in %.2f s: %d run, %d refused as lane busy, "
              "%d other; journal call lines %d" % (seconds, len(accepted), len(refused), len(other), calls))
        if other or calls != len(accepted):
            print("a run was lost or doubled")
            return 1
        print("no run lost or doubled")
        return large_state(service)
    finally:
        service.close()


def large_state(service, count=200000):
    """A state file of count answered operations, as brennickd keeps them."""
    service.stop()
    status, answer, _ = 200, None, None
    now = int(time.time())
    with open(os.path.join(service.state, "brennickd-state.jsonl"), "w") as f:
        for i in range(count):
            answer = {"key": "old-%d" % i, "state": "approved", "exit": 0, "outcome": "completed", "rc": "00",
                      "text": "APPROVED", "rrn": "%012d" % i, "auth_code": "A1B2C3", "amount": 221,
                      "currency": "643", "card": "411111******1111", "card_type": "VISA",
                      "slip": "SALE 2.21 643\n*1111 00 APPROVED", "library_fault": False,
                      "operation": "purchase", "lane": None, "trace_id": "INV-%d" % i,
                      "run": "%016x" % i, "started": "2026-12-08T14:30:05.123+00:00"}
            f.write('{"event":"done","key":"old-%d","hash":"%016x","at":%d,"answer":%s}\n'
                    % (i, i, now, json.dumps(answer, separators=(",", ":"))))
    start = time.perf_counter()
    service.start()
    status, answer, _ = service.request("GET", "/v1/operations/old-%d" % (count - 1))
    seconds = time.perf_counter() - start
    with open("/proc/%d/status" % service.process.pid) as f:
        rss = [line.split()[1] for line in f if line.startswith("VmRSS:")][0]
    mib = int(rss) / 1024
    print("start with %d stored operations: a stored answer after %.2f s (goal: 1 s), %.0f MiB held "
          "(goal: 64 MiB) %s" % (count, seconds, mib, "met" if seconds <= 1 and mib <= 64 else "MISSED"))
    if status != 200 or answer["rrn"] != "%012d" % (count - 1):
        print("the stored answer did not come back: %s %s" % (status, answer))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
