#!/usr/bin/env python3
"""Download speed of the stub against curl, from the same web server in the
same run.

    bench/download_bench.py BUILD_DIR [--size MB] [--runs N]

BUILD_DIR is a Windows build tree (the x86_64 one that runs under Wine) with
the http_get fixture built. The web server fixture serves a generated file of
--size MB (default 100) on 127.0.0.1; curl fetches it into a file, then
http_get.exe downloads it under Wine into a file of the same folder, exactly
as the stub does (warm-up, side file, progress notifier, rename). Each is timed by itself (curl's time_total, http_get's own clock,
so Wine's start-up is not counted); the best of --runs (default 3) counts.

Prints both speeds and the ratio stub/curl, and exits 1 when the ratio is
below 0.5.
"""
import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "fixtures"))
import http_server  # noqa: E402

MIN_RATIO = 0.5


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def curl_seconds(url, folder):
    target = os.path.join(folder, "curl.bin")
    out = subprocess.run(["curl", "-s", "-o", target, "-w", "%{time_total} %{size_download}", url],
                         check=True, capture_output=True, text=True).stdout.split()
    os.remove(target)
    return float(out[0]), int(out[1])


def stub_seconds(wine_run, exe, url, folder):
    target = os.path.join(folder, "package.bin")
    result = os.path.join(folder, "result.txt")
    for path in (target, result):
        if os.path.exists(path):
            os.remove(path)
    subprocess.run([wine_run, exe, url, winpath(target), winpath(result)], timeout=600,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(result) as f:
        ms, size, *error = f.read().split(" ", 2)
    os.remove(target)
    if error and error[0].strip():
        raise SystemExit("download failed: " + error[0].strip())
    return int(ms) / 1000.0, int(size)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--size", type=int, default=100, help="megabytes")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    wine_run = os.path.join(args.build, "wine-run.sh")
    exe = os.path.join(args.build, "tests", "fixtures", "http_get.exe")
    for path in (wine_run, exe):
        if not os.path.exists(path):
            raise SystemExit("missing " + path + " (build the Windows tree first)")
    subprocess.run([wine_run, "--prefix-ready"], check=True)

    size = args.size * 1048576
    server, port = http_server.start()
    url = "http://127.0.0.1:%d/data/package.bin?size=%d" % (port, size)
    try:
        with tempfile.TemporaryDirectory(dir=args.build) as folder:
            curl_best = stub_best = None
            for _ in range(args.runs):
                seconds, got = curl_seconds(url, folder)
                assert got == size, "curl fetched %d bytes" % got
                curl_best = seconds if curl_best is None else min(curl_best, seconds)
                seconds, got = stub_seconds(wine_run, exe, url, folder)
                assert got == size, "the stub fetched %d bytes" % got
                stub_best = seconds if stub_best is None else min(stub_best, seconds)
    finally:
        server.shutdown()
        server.server_close()

    mb = size / 1048576.0
    curl_speed = mb / max(curl_best, 1e-6)
    stub_speed = mb / max(stub_best, 1e-6)
    ratio = stub_speed / curl_speed
    print("curl: %.1f MB in %.3f s = %.1f MB/s" % (mb, curl_best, curl_speed))
    print("stub: %.1f MB in %.3f s = %.1f MB/s" % (mb, stub_best, stub_speed))
    print("ratio stub/curl: %.2f (at least %.2f required)" % (ratio, MIN_RATIO))
    return 0 if ratio >= MIN_RATIO else 1


if __name__ == "__main__":
    sys.exit(main())
