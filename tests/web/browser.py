"""The page in each engine, Chromium, Firefox ESR and WebKitGTK, all from
Debian, behind one small interface, served on 127.0.0.1 or opened from disk:
shared by the page's tests and its benchmarks."""
import contextlib, functools, http.server, json, os, shutil, socketserver, subprocess, tempfile, threading, time, zipfile


class _Quiet(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, ".mjs": "text/javascript"}

    def log_message(self, *args):
        pass


@contextlib.contextmanager
def serve(folder):
    """Serves folder on 127.0.0.1; yields its address, ending in /."""
    handler = functools.partial(_Quiet, directory=folder)
    with socketserver.ThreadingTCPServer(("127.0.0.1", 0), handler) as httpd:
        threading.Thread(target=httpd.serve_forever, daemon=True).start()
        try:
            yield "http://127.0.0.1:%d/" % httpd.server_address[1]
        finally:
            httpd.shutdown()


ENGINES = ("chromium", "firefox", "webkit")
HERE = os.path.dirname(os.path.abspath(__file__))

# Runs a function body in the page, as execute_script does, but lets it
# return a promise too; errors come back as text.
_ASYNC = """
const done = arguments[arguments.length - 1];
Promise.resolve().then(() => (function () { %s
}).apply(null, Array.prototype.slice.call(arguments, 0, -1)))
  .then((v) => done({value: v === undefined ? null : v}), (e) => done({error: String(e && e.stack || e)}));
"""


class Selenium:
    """Chromium or WebKitGTK through Selenium."""

    def __init__(self, driver, pid):
        self.driver, self.pid = driver, pid
        driver.set_script_timeout(120)

    def get(self, url):
        self.driver.get(url)

    def js(self, script, *args):
        r = self.driver.execute_async_script(_ASYNC % script, *args)
        if "error" in r:
            raise RuntimeError(r["error"])
        return r["value"]

    def pick(self, paths):
        """Picks files through the page's file input, as a person would."""
        self.driver.find_element("id", "file-input").send_keys("\n".join(paths))

    def click(self, id_):
        self.driver.find_element("id", id_).click()

    def size(self, width, height):
        self.driver.set_window_size(width, height)

    def screenshot(self, path):
        self.driver.save_screenshot(path)


class Bridge:
    """Firefox ESR over WebDriver BiDi, through tests/web/firefox.mjs."""

    def __init__(self, proc):
        self.proc = proc
        self.pid = self._answer()

    def _answer(self):
        line = self.proc.stdout.readline()
        if not line:
            raise RuntimeError("Firefox's driver stopped")
        r = json.loads(line)
        if "error" in r:
            raise RuntimeError(r["error"])
        return r["value"]

    def _say(self, **command):
        self.proc.stdin.write(json.dumps(command) + "\n")
        self.proc.stdin.flush()
        return self._answer()

    def get(self, url):
        self._say(cmd="get", url=url)

    def js(self, script, *args):
        return self._say(cmd="js", script=script, args=list(args))

    def pick(self, paths):
        self._say(cmd="pick", paths=list(paths))

    def click(self, id_):
        self._say(cmd="click", id=id_)

    def size(self, width, height):
        self._say(cmd="size", width=width, height=height)

    def screenshot(self, path):
        self._say(cmd="screenshot", path=path)


@contextlib.contextmanager
def open_browser(engine, downloads=None, width=1000, height=900, dark=False):
    """A fresh browser of the engine with an empty profile, downloads going
    to downloads. WebKitGTK needs a display: run under xvfb-run."""
    from selenium import webdriver
    profile = tempfile.mkdtemp(prefix="brivane-%s-" % engine)
    try:
        if engine == "chromium":
            from selenium.webdriver.chrome.service import Service
            opts = webdriver.ChromeOptions()
            opts.binary_location = os.environ.get("CHROMIUM", "/usr/bin/chromium")
            for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                         "--disable-background-networking", "--disable-component-update", "--disable-sync",
                         "--disable-dev-shm-usage", "--user-data-dir=" + profile,
                         "--window-size=%d,%d" % (width, height)):
                opts.add_argument(flag)
            if dark:
                opts.add_argument("--force-dark-mode")
                opts.add_argument("--blink-settings=preferredColorScheme=0")
            if downloads:
                opts.add_experimental_option("prefs", {"download.default_directory": downloads,
                                                       "download.prompt_for_download": False})
            driver = webdriver.Chrome(service=Service(os.environ.get("CHROMEDRIVER", "/usr/bin/chromedriver")),
                                      options=opts)
            if downloads:
                driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
            b = Selenium(driver, driver.service.process.pid)
            try:
                yield b
            finally:
                driver.quit()
        elif engine == "webkit":
            from selenium.webdriver.webkitgtk.options import Options
            opts = Options()
            opts.binary_location = os.environ.get("MINIBROWSER", _minibrowser())
            opts.add_argument("--automation")
            driver = webdriver.WebKitGTK(options=opts, executable_path=os.environ.get("WEBKITDRIVER", "/usr/bin/WebKitWebDriver"))
            b = Selenium(driver, driver.service.process.pid)
            b.size(width, height)
            try:
                yield b
            finally:
                driver.quit()
        elif engine == "firefox":
            env = dict(os.environ, SIZE="%dx%d" % (width, height), DOWNLOADS=downloads or profile)
            proc = subprocess.Popen(["node", os.path.join(HERE, "firefox.mjs")], stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, text=True, env=env)
            try:
                bridge = Bridge(proc)
                bridge.size(width, height)
                yield bridge
            finally:
                proc.stdin.close()
                try:
                    proc.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    proc.kill()
        else:
            raise ValueError("no such engine: " + engine)
    finally:
        shutil.rmtree(profile, ignore_errors=True)


def _minibrowser():
    import glob
    found = sorted(glob.glob("/usr/lib/*/webkit2gtk-4.*/MiniBrowser"))
    if not found:
        raise RuntimeError("no MiniBrowser: install Debian's webkit2gtk-driver")
    return found[-1]


def settled(b, timeout=60):
    """Waits until tapes were picked and none is waiting or being read. The
    page itself looks, twenty times a second: a call from here each time
    would cost the browser more than the looking."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        if b.js("""const until = performance.now() + Math.min(10000, arguments[0]);
                   return new Promise((resolve) => (function look() {
                     const done = document.querySelectorAll('.tape').length > 0 &&
                       !('reading' in document.documentElement.dataset) && !document.querySelector('#results progress');
                     if (done || performance.now() > until) resolve(done); else setTimeout(look, 50);
                   })());""", max(0, (deadline - time.time()) * 1000)):
            return
    # What is left: the count, and the tapes and archives not yet read.
    left = b.js("return [document.getElementById('status').textContent, [...document.querySelectorAll('.tape, .archive')]"
                ".filter(t => t.querySelector(':scope > p.note')?.textContent === 'Waiting to be read.')"
                ".map(t => t.querySelector(':scope > :is(h3, h4, h5, h6)').textContent)]")
    raise TimeoutError("the page is still reading after %d s: %s" % (timeout, left))


def wait_for(b, script, timeout=30):
    """Waits until the script returns true in the page."""
    deadline = time.time() + timeout
    while not b.js(script):
        if time.time() > deadline:
            raise TimeoutError("waited %d s for: %s" % (timeout, script))
        time.sleep(0.01)


def shown(b):
    """data-tape: text of every listing on the page."""
    return b.js("const o = {}; for (const p of document.querySelectorAll('pre[data-tape]'))"
                " o[p.dataset.tape] = p.textContent; return o;")


def set_options(b, all_, escape):
    for box, want in (("opt-all", all_), ("opt-escape", escape)):
        if b.js("return document.getElementById(arguments[0]).checked", box) != want:
            b.click(box)


def native(bin_, data, all_=False, escape=False):
    """What the program prints for the bytes."""
    with tempfile.NamedTemporaryFile(suffix=".tap") as f:
        f.write(data)
        f.flush()
        args = [bin_] + (["-a"] if all_ else []) + (["-e"] if escape else []) + [f.name]
        return subprocess.run(args, capture_output=True, check=True).stdout.decode("latin-1")


def collection_zip(make, count, max_kib):
    """A zip of count deflated tapes made by make_collection (max_kib KiB of
    data at most in each file), kept in TMPDIR for the next run: its path."""
    archive = os.path.join(os.environ.get("TMPDIR", "/tmp"), "brivane-%d-tapes.zip" % count)
    if not os.path.exists(archive):
        with tempfile.TemporaryDirectory() as d:
            subprocess.run([make, str(count), d, os.path.join(d, "expected"), str(max_kib)], check=True)
            with zipfile.ZipFile(archive + ".part", "w", zipfile.ZIP_DEFLATED) as z:
                for root, _, files in sorted(os.walk(d)):
                    for f in sorted(files):
                        if f.lower().endswith(".tap"):
                            z.write(os.path.join(root, f), os.path.relpath(os.path.join(root, f), d))
        os.rename(archive + ".part", archive)
    return archive


def timed_listing(b, url, path, timeout=300):
    """Opens the page at url, ticks "all names", picks path and waits for it:
    the milliseconds from picking to the last line, the browser's peak
    memory meanwhile (KiB), and what the page shows."""
    b.get(url)
    set_options(b, True, False)
    with peak_rss_kib(b) as peak:
        b.pick([path])
        settled(b, timeout=timeout)
    ms = b.js("const d = document.documentElement.dataset; return d.finishedAt - d.pickedAt;")
    return ms, peak[0], shown(b)


def tree_pids(root):
    """root and all its descendants' process ids."""
    kids = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % pid) as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            kids.setdefault(ppid, []).append(int(pid))
        except (OSError, IndexError, ValueError):
            pass
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo += kids.get(pid, [])
    return found


def tree_rss_kib(root):
    """Resident memory of root and all its descendants."""
    total = 0
    for pid in tree_pids(root):
        try:
            with open("/proc/%d/status" % pid) as f:
                total += sum(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
        except OSError:
            pass
    return total


@contextlib.contextmanager
def peak_rss_kib(b):
    """Yields a list whose one item becomes the most resident memory, above
    what it held before, of the browser and all its processes while the
    block ran."""
    root = b.pid
    base = tree_rss_kib(root)
    peak, stop = [0], threading.Event()

    def sample():
        while not stop.is_set():
            peak[0] = max(peak[0], tree_rss_kib(root) - base)
            time.sleep(0.05)  # each look costs the machine a little: often enough for memory, which moves slowly
    t = threading.Thread(target=sample)
    t.start()
    try:
        yield peak
    finally:
        stop.set()
        t.join()
