#!/usr/bin/env python3
"""Times the one-file page, served over http, in one engine on large
generated tapes: from picking the file, with "all names" ticked, to its last
line, and the browser's peak memory while reading it, beside the
command-line tool on the same tape.

usage: bench/web_bench.py ENGINE PAGE_DIR BRIVANE MAKE_BENCH_TAPE [SIZE_MIB ...]
       ENGINE: chromium, firefox or webkit (under xvfb-run); default sizes 32 and 256;
       run with Debian's python3, which has python3-selenium
"""
import os, statistics, subprocess, sys, threading, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import browser  # noqa: E402

engine = sys.argv[1]
page, bin_, make = (os.path.abspath(a) for a in sys.argv[2:5])
sizes = [int(s) for s in sys.argv[5:]] or [32, 256]
tmp = os.environ.get("TMPDIR", "/tmp")
RUNS = int(os.environ.get("RUNS", "5"))


with browser.serve(page) as base, browser.open_browser(engine) as b:
    url = base + "brivane.html"
    print(engine)
    print("%-10s %12s %14s %16s %12s" % ("tape", "page ms", "median of", "page peak MiB", "native ms"))
    for size in sizes:
        path = os.path.join(tmp, "brivane-bench-%dm.tap" % size)
        if not os.path.exists(path + ".expected"):
            subprocess.run([make, str(size), path, path + ".expected"], check=True)
        want = open(path + ".expected", "rb").read().decode("latin-1")
        times, mems = [], []
        for _ in range(RUNS):
            ms, mem, listed = browser.timed_listing(b, url, path, timeout=120)
            out = list(listed.values())[0]
            if out != want:
                sys.exit("FAIL: the page's output for %s differs from the names written" % path)
            times.append(ms)
            mems.append(mem)
        native = []
        for _ in range(RUNS):
            t0 = time.perf_counter()
            subprocess.run([bin_, "-a", path], stdout=subprocess.DEVNULL, check=True)
            native.append((time.perf_counter() - t0) * 1000)
        print("%-10s %12.0f %14s %16.1f %12.1f" % ("%d MiB" % size, statistics.median(times), "%d runs" % RUNS,
                                                   max(mems) / 1024, statistics.median(native)))
