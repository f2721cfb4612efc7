"""Headless Chromium from Debian, driven by Selenium, against the page served
on 127.0.0.1: shared by the page's tests and its benchmark."""
import contextlib, functools, http.server, os, shutil, socketserver, tempfile, threading, time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


class _Quiet(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map, ".mjs": "text/javascript"}

    def log_message(self, *args):
        pass


@contextlib.contextmanager
def serve(folder):
    """Serves folder on 127.0.0.1; yields the page's address."""
    handler = functools.partial(_Quiet, directory=folder)
    with socketserver.ThreadingTCPServer(("127.0.0.1", 0), handler) as httpd:
        threading.Thread(target=httpd.serve_forever, daemon=True).start()
        try:
            yield "http://127.0.0.1:%d/index.html" % httpd.server_address[1]
        finally:
            httpd.shutdown()


@contextlib.contextmanager
def chromium(downloads=None, width=1000, height=900, dark=False):
    """A headless Chromium with a fresh profile, downloads going to downloads."""
    profile = tempfile.mkdtemp(prefix="brivane-chromium-")
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
    driver = webdriver.Chrome(service=Service(os.environ.get("CHROMEDRIVER", "/usr/bin/chromedriver")), options=opts)
    try:
        if downloads:
            driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
        yield driver
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)


def pick(driver, paths):
    """Picks files through the page's file input, as a person would."""
    driver.find_element("id", "file-input").send_keys("\n".join(paths))


def settled(driver, timeout=60):
    """Waits until no tape is waiting or being read."""
    from selenium.webdriver.support.ui import WebDriverWait
    WebDriverWait(driver, timeout, poll_frequency=0.02).until(
        lambda d: d.execute_script(
            "return document.querySelectorAll('.tape').length > 0 &&"
            " document.getElementById('cancel').disabled"))


def tree_rss_kib(root):
    """Resident memory of root and all its descendants."""
    kids = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/stat" % pid) as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            kids.setdefault(ppid, []).append(int(pid))
        except (OSError, IndexError, ValueError):
            pass
    total, todo = 0, [root]
    while todo:
        pid = todo.pop()
        todo += kids.get(pid, [])
        try:
            with open("/proc/%d/status" % pid) as f:
                total += sum(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
        except OSError:
            pass
    return total


@contextlib.contextmanager
def peak_rss_kib(driver):
    """Yields a list whose one item becomes the most resident memory, above
    what it held before, of the browser and all its processes while the
    block ran."""
    root = driver.service.process.pid
    base = tree_rss_kib(root)
    peak, stop = [0], threading.Event()

    def sample():
        while not stop.is_set():
            peak[0] = max(peak[0], tree_rss_kib(root) - base)
            time.sleep(0.01)
    t = threading.Thread(target=sample)
    t.start()
    try:
        yield peak
    finally:
        stop.set()
        t.join()
