#!/usr/bin/env python3
"""The page in a real browser: tapes picked through the file input, each
option ticked in turn, every result against the command-line tool's output,
the no-names message, an unreadable file, and the CSV.

usage: page_test.py PAGE_DIR BRIVANE WRITE_TAPE
"""
import contextlib, csv, io, os, shutil, subprocess, sys, tempfile, time, unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import browser  # noqa: E402

PAGE, BIN, WRITE_TAPE = (os.path.abspath(a) for a in sys.argv[1:4])
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def native(path, all_=False, escape=False):
    args = [BIN] + (["-a"] if all_ else []) + (["-e"] if escape else []) + [path]
    return subprocess.run(args, capture_output=True, check=True).stdout.decode("latin-1")


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        d = cls.dir = cls.tmp.name
        subprocess.run([WRITE_TAPE, "samples", d], check=True)
        shutil.copy(os.path.join(ROOT, "examples", "demo.tap"), d)
        with open(os.path.join(d, 'comma, "quote".tap'), "wb") as f:  # a name and a file name to quote
            f.write(subprocess.run([WRITE_TAPE, "header", 'A,"B"'], capture_output=True, check=True).stdout)
        with open(os.path.join(d, "notes.txt"), "w") as f:
            f.write("not a tape\n")
        cls.names = ["demo.tap", "one.tap", "two.tap", "empty.tap", 'comma, "quote".tap', "notes.txt"]
        cls.downloads = os.path.join(d, "downloads")
        os.mkdir(cls.downloads)
        cls.stack = contextlib.ExitStack()
        cls.url = cls.stack.enter_context(browser.serve(PAGE))
        cls.driver = cls.stack.enter_context(browser.chromium(downloads=cls.downloads))

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()
        cls.tmp.cleanup()

    def setUp(self):
        self.driver.get(self.url)

    def shown(self):
        return {p.get_attribute("data-tape"): p.get_attribute("textContent")
                for p in self.driver.find_elements("css selector", "pre[data-tape]")}

    def set_options(self, all_, escape):
        for box, want in (("opt-all", all_), ("opt-escape", escape)):
            el = self.driver.find_element("id", box)
            if el.is_selected() != want:
                el.click()

    def pick_all(self):
        browser.pick(self.driver, [os.path.join(self.dir, n) for n in self.names])
        browser.settled(self.driver)

    def test_every_tape_with_every_option(self):
        self.pick_all()
        self.assertEqual(len(self.driver.find_elements("css selector", ".tape")), len(self.names))
        for all_ in (False, True):
            for escape in (False, True):
                self.set_options(all_, escape)
                want = {n: native(os.path.join(self.dir, n), all_, escape) for n in self.names}
                self.assertEqual(self.shown(), want, "options all=%s escape=%s" % (all_, escape))

    def test_no_names_said_plainly(self):
        self.pick_all()
        notes = {a.find_element("tag name", "h3").text: a.find_element("css selector", ".note")
                 for a in self.driver.find_elements("css selector", ".tape")}
        self.assertIn("empty", notes["empty.tap"].text)
        self.assertIn("No tape header found", notes["notes.txt"].text)
        self.assertFalse(notes["demo.tap"].is_displayed())

    def test_csv_holds_every_name_quoted(self):
        self.pick_all()
        self.set_options(True, True)
        self.driver.find_element("id", "download-csv").click()
        path = os.path.join(self.downloads, "brivane.csv")
        for _ in range(100):
            if os.path.exists(path):
                break
            time.sleep(0.05)
        raw = open(path, "rb").read()
        os.remove(path)
        want = [["file", "number", "name"]]
        for n in self.names:
            for line in native(os.path.join(self.dir, n), True, True).splitlines()[1:]:
                number, name = line[len("FOUND ("):].split('): "', 1)
                want.append([n, number, name[:-1]])
        self.assertEqual(list(csv.reader(io.StringIO(raw.decode("latin-1"), newline=""))), want)
        self.assertIn(b'"comma, ""quote"".tap",001,"A,""B"""\r\n', raw)

    def test_unreadable_file_has_its_message_and_the_rest_go_on(self):
        # Two large tapes keep both readers busy; the third file changes on
        # disk after it was picked, so the browser refuses to read it.
        big = os.path.join(self.dir, "big.tap")
        with open(big, "wb") as f:
            subprocess.run([WRITE_TAPE, "--repeat", "800", "file", "BIG"], stdout=f, check=True)
        victim = os.path.join(self.dir, "changed.tap")
        with open(victim, "wb") as f:
            f.write(b"\x30" * 100)
        browser.pick(self.driver, [big, big, victim, os.path.join(self.dir, "one.tap")])
        with open(victim, "ab") as f:
            f.write(b"\x30" * 100)
        browser.settled(self.driver)
        err = self.driver.find_element("css selector", '[data-error="changed.tap"]')
        self.assertIn("Could not read this file", err.text)
        self.assertEqual(self.shown()["one.tap"], native(os.path.join(self.dir, "one.tap")))
        self.assertEqual(len(self.driver.find_elements("css selector", 'pre[data-tape="big.tap"]')), 2)
        os.remove(big)
        os.remove(victim)

    def test_every_control_has_a_label(self):
        unlabelled = self.driver.execute_script(
            "return [...document.querySelectorAll('input, button, progress')]"
            ".filter(e => !(e.labels && e.labels.length) && !e.getAttribute('aria-label') && !e.textContent.trim())"
            ".map(e => e.id || e.outerHTML)")
        self.assertEqual(unlabelled, [])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
