#!/usr/bin/env python3
"""Times the one-file page, served over http, in one engine on a zip of 1,000
deflated tapes made by the project's tape writer: from picking the archive,
with "all names" ticked, to the last member's result, and the browser's peak
memory; beside `unzip -p ARCHIVE | brivane -a /dev/stdin` for the same
archive.

usage: bench/web_zip_bench.py ENGINE PAGE_DIR BRIVANE MAKE_COLLECTION
       ENGINE: chromium, firefox or webkit (under xvfb-run); run with Debian's
       python3, which has python3-selenium
"""
import os, statistics, subprocess, sys, time, zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import browser  # noqa: E402

engine = sys.argv[1]
page, bin_, make = (os.path.abspath(a) for a in sys.argv[2:5])
RUNS = int(os.environ.get("RUNS", "5"))
archive = browser.collection_zip(make, 1000, 3)
with zipfile.ZipFile(archive) as z:
    infos = [i for i in z.infolist() if i.filename.lower().endswith(".tap")]
    tape_bytes = sum(i.file_size for i in infos)
print("%d tapes, %.0f MiB of tape, %.0f MiB archive" % (len(infos), tape_bytes / 2**20, os.path.getsize(archive) / 2**20))

times, mems = [], []
with browser.serve(page) as base, browser.open_browser(engine) as b:
    for _ in range(RUNS):
        ms, mem, listed = browser.timed_listing(b, base + "brivane.html", archive)
        if len(listed) != len(infos):
            sys.exit("FAIL: %d results shown for %d tapes" % (len(listed), len(infos)))
        times.append(ms)
        mems.append(mem)
native = []
for _ in range(RUNS):
    t0 = time.perf_counter()
    subprocess.run("unzip -p '%s' | '%s' -a /dev/stdin >/dev/null" % (archive, bin_), shell=True, check=True)
    native.append((time.perf_counter() - t0) * 1000)
print("%s: page, picking to last result, median of %d: %.0f ms (all: %s); peak memory %.0f MiB"
      % (engine, RUNS, statistics.median(times), ", ".join("%.0f" % t for t in times), max(mems) / 1024))
print("unzip -p | brivane -a /dev/stdin, median of %d: %.0f ms" % (RUNS, statistics.median(native)))
