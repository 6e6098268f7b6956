"""Load on a real `corvanta serve`: concurrent clients on keep-alive
connections post the MEDLINE abstracts one per request; prints requests/s,
p50 and p99 latency, errors, and the server's resident memory before and after,
next to in-process map_text over the same texts in the same run.

    python benchmarks/serve_load.py [--requests 20000] [--clients 8] [--workers 1]
"""
from __future__ import annotations

import argparse
import http.client
import json
import pathlib
import statistics
import threading
import time

import corvanta

from corvanta_tools.serve.process import ServerProcess

SHARED = pathlib.Path(__file__).resolve().parents[1].parent / "shared"
CORPUS = SHARED / "corpora" / "medical_abstracts_tc" / "docs.jsonl"
RELEASE = SHARED / "hpo" / "hp.json"


def rss_kib(pid: int) -> int:
    """Resident memory of the process and its children (the worker processes)."""
    total = 0
    for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            total = int(line.split()[1])
    children = pathlib.Path(f"/proc/{pid}/task/{pid}/children").read_text().split()
    return total + sum(rss_kib(int(child)) for child in children)


def client(port: int, bodies: list[bytes], turns: range, latencies: list[float],
           errors: list[str]) -> None:
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    headers = {"Content-Type": "application/json"}
    for turn in turns:
        started = time.perf_counter()
        try:
            connection.request("POST", "/v1/annotate", bodies[turn % len(bodies)], headers)
            response = connection.getresponse()
            payload = response.read()
            if response.status != 200 or not payload.startswith(b'{"release"'):
                errors.append(f"{response.status} {payload[:80]!r}")
        except (OSError, http.client.HTTPException) as error:
            errors.append(repr(error))
            connection.close()
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        latencies.append(time.perf_counter() - started)
    connection.close()


def load(port: int, bodies: list[bytes], requests: int, clients: int) -> tuple[float, list[float], list[str]]:
    latencies: list[float] = []
    errors: list[str] = []
    threads = [threading.Thread(target=client, args=(port, bodies, range(n, requests, clients),
                                                     latencies, errors))
               for n in range(clients)]
    started = time.perf_counter()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return time.perf_counter() - started, latencies, errors


def in_process_rate(matcher: corvanta.Corvanta, texts: list[str], count: int) -> float:
    started = time.perf_counter()
    for n in range(count):
        matcher.map_text(texts[n % len(texts)])
    return count / (time.perf_counter() - started)


def percentile(values: list[float], share: float) -> float:
    return statistics.quantiles(values, n=1000)[round(share * 1000) - 1]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--requests", type=int, default=20000)
    parser.add_argument("--clients", type=int, default=8)
    parser.add_argument("--workers", type=int, default=1)
    args = parser.parse_args()
    texts = [json.loads(line)["text"] for line in CORPUS.read_text(encoding="utf-8").splitlines()]
    bodies = [json.dumps({"text": text}).encode("utf-8") for text in texts]
    print(f"{len(texts)} abstracts, mean {statistics.mean(map(len, texts)):.0f} characters; "
          f"{args.requests} requests from {args.clients} clients, {args.workers} worker(s)")

    # Measured before and after the service's run: on a shared machine the
    # load of others changes in between.
    matcher = corvanta.Corvanta(str(RELEASE))
    in_process_before = in_process_rate(matcher, texts, args.requests)

    with ServerProcess(str(RELEASE), ["--workers", str(args.workers), "--no-access-log"]) as server:
        port = server.port
        # Warm-up: every pool thread has recognized and every text was seen once.
        load(port, bodies, len(bodies) * 2, args.clients)
        before = rss_kib(server.pid)
        seconds, latencies, errors = load(port, bodies, args.requests, args.clients)
        after = rss_kib(server.pid)
    in_process_after = in_process_rate(matcher, texts, args.requests)
    in_process = (in_process_before + in_process_after) / 2
    print(f"in-process map_text, one thread: {in_process_before:,.0f} texts/s before, "
          f"{in_process_after:,.0f} after")
    rate = args.requests / seconds
    p50, p99 = percentile(latencies, 0.5), percentile(latencies, 0.99)
    print(f"service: {rate:,.0f} requests/s, p50 {p50 * 1000:.2f} ms, p99 {p99 * 1000:.2f} ms, "
          f"errors {len(errors)}")
    print(f"server RSS (with its worker processes): before {before / 1024:.1f} MiB, "
          f"after {after / 1024:.1f} MiB ({(after - before) / before:+.1%})")
    print(f"throughput / in-process map_text (mean of both): {rate / in_process:.2f} "
          "(target >= 0.5)")
    for error in errors[:5]:
        print("  error:", error)


if __name__ == "__main__":
    main()
