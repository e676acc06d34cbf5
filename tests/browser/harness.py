# The pieces the browser tests stand on: an instance folder, a device played
# on a pseudo-terminal, the real program serving its page on a free port of
# 127.0.0.1, and headless Chromium.
# SPDX-License-Identifier: GPL-3.0-or-later

import base64
import datetime
import fcntl
import os
import pty
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty
import urllib.request

USER = "quellmark"
PASSWORD = "pump-board-7"
ZONE = "Europe/Berlin"

# The tests' history is written in the program's zone.
os.environ["TZ"] = ZONE
time.tzset()

CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"


def skip_unless_browser():
    """Exits with 77 (skipped) where Chromium is missing, outside CI only."""
    try:
        import selenium  # noqa: F401
        have = os.path.exists(CHROMIUM) and os.path.exists(CHROMEDRIVER)
    except ImportError:
        have = False
    if not have and os.environ.get("CI") != "true":
        print("skipped: chromium, chromium-driver or python3-selenium not installed")
        sys.exit(77)


def wait_until(done, timeout=10.0, step=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = done()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(step)


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Device:
    """Sends V0n=<text> lines by itself (continuous reading), the texts set
    by the test, on a pseudo-terminal linked as the instance's COM1."""

    def __init__(self, link, texts):
        self.texts = dict(texts)
        self.lock = threading.Lock()
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        flags = fcntl.fcntl(self.master, fcntl.F_GETFL)
        fcntl.fcntl(self.master, fcntl.F_SETFL, flags | os.O_NONBLOCK)
        os.symlink(os.ttyname(self.slave), link)
        self.running = True
        self.paused = False
        self.thread = threading.Thread(target=self._send, daemon=True)
        self.thread.start()

    def pause(self, paused):
        self.paused = paused

    def set(self, channel, text):
        with self.lock:
            self.texts[channel] = text

    def _send(self):
        while self.running:
            with self.lock:
                lines = "" if self.paused else "".join(f"V0{c}={t}\r\n" for c, t in sorted(self.texts.items()))
            try:
                os.read(self.master, 4096)  # whatever the program sends
            except OSError:
                pass
            try:
                os.write(self.master, lines.encode("ascii"))
            except OSError:
                pass  # nobody reads yet: the terminal's buffer is full
            time.sleep(0.2)

    def stop(self):
        self.running = False
        self.thread.join(2)
        os.close(self.master)
        os.close(self.slave)


def log_line(when, values):
    fields = ",".join(values + ["0"] * (8 - len(values)))
    return f'"{when:%H:%M:%S}",{fields}\r\n'


def write_history(log_dir, lines):
    """Appends (local time, [texts]) lines to the day files they belong to."""
    os.makedirs(log_dir, exist_ok=True)
    by_day = {}
    for when, values in lines:
        by_day.setdefault(f"{when:%y%m%d}.txt", []).append(log_line(when, values))
    for name, day in by_day.items():
        with open(os.path.join(log_dir, name), "a", newline="") as f:
            f.write("".join(day))
    return sorted(by_day)


class Instance:
    """An instance folder `pump2` with settings, a web.conf with a password,
    the device on ports/com1 and the program started with --headless."""

    def __init__(self, settings, texts, history=(), password=True):
        self.password = password
        self.program = os.environ.get("QM_APP_PATH") or os.path.abspath("build/quellmark")
        self.top = tempfile.mkdtemp(prefix="qm-browser-")
        self.folder = os.path.join(self.top, "pump2")
        os.makedirs(os.path.join(self.folder, "ports"))
        self.settings_path = os.path.join(self.folder, "pump2.ini")
        self.log_dir = os.path.join(self.folder, "pump2Log")
        self.day_files = write_history(self.log_dir, history)
        done = self.run_tool(*[a for k, v in settings for a in ("--set", f"{k}={v}")])
        if done.returncode != 0:
            raise RuntimeError("--set refused the test's settings:\n" + done.stdout + done.stderr)
        self.port = free_port()
        conf = f"port = {self.port}\nbind = 127.0.0.1\nuser = {USER}\n"
        if password:
            password_file = os.path.join(self.top, "web-password")
            with open(password_file, "w") as f:
                f.write(PASSWORD + "\n")
            os.chmod(password_file, 0o600)
            conf += f"password_file = {password_file}\n"
        with open(os.path.join(self.folder, "web.conf"), "w") as f:
            f.write(conf)
        self.device = Device(os.path.join(self.folder, "ports", "com1"), texts)
        self.output = open(os.path.join(self.top, "program.out"), "w")
        self.start()

    def start(self):
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", TZ=ZONE)
        self.process = subprocess.Popen([self.program, "--headless", "--instance", self.folder],
                                        stdout=self.output, stderr=subprocess.STDOUT, env=env)
        try:
            up = wait_until(self.healthy, 20)
        except RuntimeError:
            up = False
        if not up:
            why = "the page did not come up on port %d:\n%s" % (self.port, self.program_output())
            self.stop()
            raise RuntimeError(why)

    def end_program(self):
        if self.process.poll() is None:
            self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def run_tool(self, *args):
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", TZ=ZONE)
        return subprocess.run([self.program, "--instance", self.folder, *args], env=env,
                              capture_output=True, text=True, timeout=30)

    @property
    def url(self):
        return f"http://127.0.0.1:{self.port}/"

    @property
    def authorization(self):
        if not self.password:
            return ""
        return "Basic " + base64.b64encode(f"{USER}:{PASSWORD}".encode()).decode()

    def healthy(self):
        if self.process.poll() is not None:
            raise RuntimeError("the program ended:\n" + self.program_output())
        try:
            with urllib.request.urlopen(self.url + "healthz", timeout=1) as r:
                return r.status == 200
        except OSError:
            return False

    def settings_bytes(self):
        with open(self.settings_path, "rb") as f:
            return f.read()

    def program_output(self):
        self.output.flush()
        with open(os.path.join(self.top, "program.out"), errors="replace") as f:
            return f.read()[-4000:]

    def stop(self):
        self.end_program()
        self.device.stop()
        self.output.close()
        shutil.rmtree(self.top, ignore_errors=True)


def browser(language, authorization):
    """Headless Chromium in `language`, sending the page's password."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--no-first-run", "--disable-extensions", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--disable-domain-reliability", "--no-pings",
                "--disable-client-side-phishing-detection", "--disable-features=Translate,OptimizationHints,MediaRouter",
                # Anything but loopback (which never goes through a proxy) meets a closed port.
                "--proxy-server=http://127.0.0.1:9",
                "--window-size=1366,900", f"--lang={language}"):
        options.add_argument(arg)
    options.add_experimental_option("prefs", {"intl.accept_languages": language})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    if authorization:
        driver.execute_cdp_cmd("Network.enable", {})
        driver.execute_cdp_cmd("Network.setExtraHTTPHeaders", {"headers": {"Authorization": authorization}})
    driver.execute_cdp_cmd("Emulation.setLocaleOverride", {"locale": language})
    return driver


def viewport(driver, width, height):
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600})


def now_local():
    return datetime.datetime.now()
