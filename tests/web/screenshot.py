#!/usr/bin/env python3
"""Remakes the README's pictures of the page: the example tape read with both
options ticked, in light and dark mode.

usage: screenshot.py PAGE_DIR OUT_DIR FILE...
       ENGINE (default chromium), WIDTH and HEIGHT in the environment choose
       the browser and its size, SHOT_NAME the pictures' names, SHOW a CSS
       selector of what to scroll to the top; the one-file page is opened
       from disk. The README's pictures:
         screenshot.py build-web/web docs examples/demo.tap
         SHOT_NAME=archive SHOW='#results' screenshot.py build-web/web docs examples/collection.zip
         SHOT_NAME=table SHOW='#catalogue' screenshot.py build-web/web docs examples/collection.zip
"""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser  # noqa: E402

page, out, files = sys.argv[1], sys.argv[2], [os.path.abspath(f) for f in sys.argv[3:]]
prefix = os.environ.get("SHOT_NAME", "page")
engine = os.environ.get("ENGINE", "chromium")
size = int(os.environ.get("WIDTH", "900")), int(os.environ.get("HEIGHT", "1000"))
for dark in (False, True) if engine == "chromium" else (False,):
    with browser.open_browser(engine, width=size[0], height=size[1], dark=dark) as b:
        b.get("file://" + os.path.join(os.path.abspath(page), "brivane.html"))
        browser.set_options(b, True, True)
        b.pick(files)
        browser.settled(b)
        if os.environ.get("SHOW"):
            b.js("document.querySelector(arguments[0]).scrollIntoView({block: 'start'})", os.environ["SHOW"])
        b.screenshot(os.path.join(out, "%s-%s.png" % (prefix, "dark" if dark else "light")))
