#!/usr/bin/env python3
"""The web page at "/" in headless Chromium, driven through chromedriver's
WebDriver protocol: the page loads with the scanner's name and state, a preview
(the whole glass at the lowest resolution, 75 dpi) is scanned and shown, then a
scan at 75 dpi into PNG shows and offers the image. Checked through the DOM; a
screenshot of the page is saved for people to look at.

  web_page_test.py SERVER SIM_DAEMON SCREENSHOT.png
Exits 77 (skipped) when chromium or chromedriver is not installed.
"""
import base64
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

SKIP = 77
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-dev-shm-usage", "--window-size=1100,1000"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class WebDriver:
    def __init__(self, port):
        self.base = f"http://127.0.0.1:{port}"
        self.session = None

    def call(self, method, path, body=None, timeout=120):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request(self.base + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=timeout) as reply:
            return json.loads(reply.read() or b"{}").get("value")

    def start(self, binary, profile):
        options = {"binary": binary, "args": FLAGS + [f"--user-data-dir={profile}"]}
        value = self.call("POST", "/session",
                          {"capabilities": {"alwaysMatch": {"goog:chromeOptions": options}}})
        self.session = value["sessionId"]

    def s(self, path):
        return f"/session/{self.session}{path}"

    def script(self, code, *args):
        return self.call("POST", self.s("/execute/sync"), {"script": code, "args": list(args)})

    def wait_for(self, code, what, seconds=240):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            value = self.script(code)
            if value:
                return value
            time.sleep(0.2)
        raise AssertionError(f"timed out waiting for {what}: "
                             + str(self.script("return document.body.innerText")))


def main():
    server, daemon, screenshot = sys.argv[1:4]
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    driver = shutil.which("chromedriver") or (
        "/usr/lib/chromium/chromedriver" if os.path.exists("/usr/lib/chromium/chromedriver") else None)
    if not chromium or not driver:
        print("SKIPPED: chromium or chromedriver is not installed (Debian: chromium chromium-driver)")
        return SKIP
    work = tempfile.mkdtemp(prefix="qrx-escl-web-")
    processes = []
    try:
        sock = os.path.join(work, "scanner.sock")
        sim = subprocess.Popen([daemon, "--socket", sock, "--speed", "20"], stdout=subprocess.PIPE,
                               text=True)
        processes.append(sim)
        assert sim.stdout.readline().startswith("qrx7730-sim: serving"), "the emulator did not start"
        env = dict(os.environ, TMPDIR=work)
        escl = subprocess.Popen([server, "-d", "sim:" + sock, "--listen", "127.0.0.1", "--port", "0",
                                 "--no-mdns", "--name", "Test <scanner> & co"],
                                stdout=subprocess.PIPE, text=True, env=env)
        processes.append(escl)
        line = escl.stdout.readline()
        assert line.startswith("qrx7730-escl: serving "), line
        url = line.split()[2]
        port = free_port()
        chromedriver = subprocess.Popen([driver, f"--port={port}"], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        processes.append(chromedriver)
        web = WebDriver(port)
        for _ in range(100):
            try:
                web.call("GET", "/status", timeout=5)
                break
            except OSError:
                time.sleep(0.1)
        web.start(chromium, os.path.join(work, "profile"))
        web.call("POST", web.s("/url"), {"url": url})
        # The name (escaped, not taken as markup), the model and the state.
        title = web.wait_for("return document.getElementById('name').textContent", "the name")
        assert title == "Test <scanner> & co", title
        web.wait_for("return document.getElementById('model').textContent === 'QUARN RV-70413K'",
                     "the make and model")
        web.wait_for("return document.getElementById('scanner-state').textContent === 'Idle'",
                     "the state Idle")
        resolutions = web.script(
            "return [...document.getElementById('resolution').options].map(o => +o.value)")
        assert resolutions[:3] == [75, 150, 300], resolutions

        # The preview: the whole glass at 75 dpi, 2552 x 3508 300ths = 638 x 877 pixels.
        web.script("document.getElementById('preview-button').click()")
        size = web.wait_for(
            "const i = document.getElementById('preview');"
            "return i.complete && i.naturalWidth > 0 ? [i.naturalWidth, i.naturalHeight] : null",
            "the preview")
        assert size == [638, 877], size
        assert web.script("return document.getElementById('message').textContent") == ""

        # A scan of 100 x 50 mm at 75 dpi into PNG: 295 x 148 pixels.
        web.script("""
            document.getElementById('resolution').value = '75';
            document.getElementById('format').value = 'image/png';
            document.getElementById('width').value = '100';
            document.getElementById('height').value = '50';
            document.getElementById('scan-button').click();""")
        size = web.wait_for(
            "const i = document.getElementById('result');"
            "return i.complete && i.naturalWidth > 0 ? [i.naturalWidth, i.naturalHeight] : null",
            "the scan")
        assert abs(size[0] - 295) <= 1 and abs(size[1] - 148) <= 1, size
        link = web.script("const a = document.getElementById('download');"
                          "return a.hidden ? null : [a.download, a.href]")
        assert link and link[0] == "scan.png" and link[1].startswith("blob:"), link
        web.wait_for("return document.getElementById('progress-text').textContent === 'done'",
                     "the progress at its end")
        shot = web.call("GET", web.s("/screenshot"))
        with open(screenshot, "wb") as out:
            out.write(base64.b64decode(shot))
        web.call("DELETE", web.s(""))
        print(f"web page checked; screenshot in {screenshot}")
        return 0
    finally:
        for process in reversed(processes):
            process.terminate()
            try:
                process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                process.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
