#!/usr/bin/env python3
"""Remakes the README's pictures of the page: the example tape read with both
options ticked, in light and dark mode.

usage: screenshot.py PAGE_DIR OUT_DIR FILE...
"""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser  # noqa: E402

page, out, files = sys.argv[1], sys.argv[2], [os.path.abspath(f) for f in sys.argv[3:]]
prefix = os.environ.get("SHOT_NAME", "page")
for dark in (False, True):
    with browser.serve(page) as url, browser.chromium(width=900, height=1000, dark=dark) as driver:
        driver.get(url)
        for box in ("opt-all", "opt-escape"):
            driver.find_element("id", box).click()
        browser.pick(driver, files)
        browser.settled(driver)
        driver.save_screenshot(os.path.join(out, "%s-%s.png" % (prefix, "dark" if dark else "light")))
