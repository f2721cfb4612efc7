#!/usr/bin/env python3
"""Two builds of the page, served over http, timed in turns in one engine on
the same files, with "all names" ticked: from picking a file to its last
result, the best of RUNS (default 3) each; beside the engine's own floor,
the time a bare worker takes to read the file and do nothing with it
(median of RUNS). Prints one line per file: before, after, after/before,
floor and after/floor.

usage: bench/web_side_by_side.py ENGINE BEFORE_PAGE_DIR AFTER_PAGE_DIR FILE...
       ENGINE: chromium, firefox or webkit (under xvfb-run); run with Debian's
       python3, which has python3-selenium
"""
import os, statistics, sys, zipfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, "..", "tests", "web"))
sys.path.insert(0, here)
import browser  # noqa: E402
from web_read_floor import floor_page, read_ms  # noqa: E402

engine = sys.argv[1]
before_dir, after_dir = (os.path.abspath(a) for a in sys.argv[2:4])
files = [os.path.abspath(f) for f in sys.argv[4:]]
RUNS = int(os.environ.get("RUNS", "3"))


def results_expected(path):
    if not zipfile.is_zipfile(path):
        return 1
    with zipfile.ZipFile(path) as z:
        return sum(1 for i in z.infolist() if i.filename.lower().endswith(".tap"))


with browser.serve(before_dir) as before, browser.serve(after_dir) as after, floor_page() as floor, \
        browser.open_browser(engine) as b:
    print("%-8s %-28s %9s %9s %7s %9s %7s" % ("engine", "file", "before s", "after s", "ratio", "floor s", "/floor"))
    for path in files:
        times = {before: [], after: []}
        for _ in range(RUNS):
            for base in (before, after):
                ms, _, listed = browser.timed_listing(b, base + "brivane.html", path)
                if len(listed) != results_expected(path):
                    sys.exit("FAIL: %d results shown for %s" % (len(listed), path))
                times[base].append(ms / 1000)
        floors = [read_ms(b, floor, path) / 1000 for _ in range(RUNS)]
        old, new, least = min(times[before]), min(times[after]), statistics.median(floors)
        print("%-8s %-28s %9.2f %9.2f %7.2f %9.2f %7.2f" % (engine, os.path.basename(path), old, new, new / old,
                                                           least, new / least), flush=True)
