#!/usr/bin/env python3
"""What brennickd adds to a payment, and whether it loses or doubles one
under load, against the simulator:

- the median time of a purchase through the service against the same
  purchase run directly (goal: at most 5 ms more);
- 200 purchases from 8 concurrent clients over 4 lanes: every accepted key
  has exactly one journal call line, every refused one (409, lane busy)
  none.

    python3 bench/brennickd_bench.py [--runs 50]

Exits 1 when a run is lost or doubled; the timing goal is reported."""
import argparse
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
        return 0
    finally:
        service.close()


if __name__ == "__main__":
    sys.exit(main())
