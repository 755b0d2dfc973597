#!/usr/bin/env python3
"""The web page at "/" in headless Chromium, driven through chromedriver's
WebDriver protocol: the page loads with the scanner's name and state and no
empty image boxes, a preview (the whole glass at the lowest resolution, 75 dpi)
is scanned and shown, an area dragged on the glass fills the fields (and the
fields move the rectangle), then a scan at 75 dpi into PNG shows and offers the
image. A scan cancelled midway says so in words, and a scan clicked at once
after it succeeds; settings the scanner refuses are said in words; a scan while another client has the scanner waits for it,
saying so; at 400 px width the page needs no sideways scrolling. Checked
through the DOM; screenshots are saved for people to look at (after the
cancel, and at 400 px, beside the first).

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
import urllib.error
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

    def element(self, css):
        value = self.call("POST", self.s("/element"), {"using": "css selector", "value": css})
        return next(iter(value.values()))

    def drag(self, css, start, end):
        """Drags the mouse over the element from one offset to another (pixels
        from its centre)."""
        origin = {"element-6066-11e4-a52e-4f735466cecf": self.element(css)}
        steps = [{"type": "pointerMove", "duration": 0, "origin": origin,
                  "x": start[0], "y": start[1]},
                 {"type": "pointerDown", "button": 0}]
        for i in range(1, 6):
            steps.append({"type": "pointerMove", "duration": 20, "origin": origin,
                          "x": round(start[0] + (end[0] - start[0]) * i / 5),
                          "y": round(start[1] + (end[1] - start[1]) * i / 5)})
        steps.append({"type": "pointerUp", "button": 0})
        self.call("POST", self.s("/actions"), {"actions": [
            {"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
             "actions": steps}]})

    def shot(self, path):
        with open(path, "wb") as out:
            out.write(base64.b64decode(self.call("GET", self.s("/screenshot"))))

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
        # No empty image boxes before anything is scanned.
        shown = web.script("return [...document.images].filter(i => i.offsetParent !== null)"
                           ".map(i => i.id)")
        assert shown == [], shown

        # The preview: the whole glass at 75 dpi, 2552 x 3508 300ths = 638 x 877 pixels.
        web.script("document.getElementById('preview-button').click()")
        size = web.wait_for(
            "const i = document.getElementById('preview');"
            "return i.complete && i.naturalWidth > 0 ? [i.naturalWidth, i.naturalHeight] : null",
            "the preview")
        assert size == [638, 877], size
        assert web.script("return document.getElementById('message').textContent") == ""

        # An area dragged on the glass (the whole glass, 216 x 297 mm, drawn to
        # scale) from 10 % to 50 % across and 10 % to 30 % down: the fields read
        # about 22, 30, 86 and 59 mm.
        box = web.script("const r = document.getElementById('glass').getBoundingClientRect();"
                         "return [r.width, r.height]")
        w, h = box
        web.drag("#glass", (round(-0.4 * w), round(-0.4 * h)), (0, round(-0.2 * h)))
        fields = web.script("return ['left', 'top', 'width', 'height']"
                            ".map(id => +document.getElementById(id).value)")
        for got, want in zip(fields, [21.6, 29.7, 86.4, 59.4]):
            assert abs(got - want) <= 2.5, fields
        # The rectangle follows a field typed in: 108 mm is half the glass's width.
        web.script("const f = document.getElementById('width'); f.value = '108';"
                   "f.dispatchEvent(new Event('input'))")
        width = web.script("return parseFloat(document.getElementById('area').style.width)")
        assert abs(width - 50) <= 0.5, width

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
        web.shot(screenshot)
        message = "return document.getElementById('message').textContent"

        # A scan of the whole glass at 300 dpi, cancelled while it comes: the page
        # says so in words; a scan clicked at once after it is made.
        web.script("""
            document.getElementById('left').value = '0';
            document.getElementById('top').value = '0';
            document.getElementById('width').value = '216';
            document.getElementById('height').value = '297';
            document.getElementById('resolution').value = '300';
            document.getElementById('format').value = 'image/jpeg';
            document.getElementById('scan-button').click();""")
        web.wait_for("return /^[0-9]+ %$/.test(document.getElementById('progress-text').textContent)",
                     "the scan coming in")
        web.script("document.getElementById('cancel-button').click()")
        web.wait_for("return !document.getElementById('scan-button').disabled", "the end of the cancel")
        assert web.script(message) == "Cancelled.", web.script(message)
        web.shot(screenshot.replace(".png", "-cancelled.png"))
        web.script("""
            document.getElementById('width').value = '50';
            document.getElementById('height').value = '30';
            document.getElementById('resolution').value = '75';
            document.getElementById('format').value = 'image/png';
            document.getElementById('scan-button').click();""")
        web.wait_for("return document.getElementById('progress-text').textContent === 'done'",
                     "the scan after the cancel")
        assert web.script(message) == "", web.script(message)
        size = web.script("const i = document.getElementById('result');"
                          "return [i.naturalWidth, i.naturalHeight]")
        assert abs(size[0] - 148) <= 1 and abs(size[1] - 89) <= 1, size

        # Settings the scanner cannot take (an area narrower than its smallest
        # window) are refused in words, and the page goes on.
        web.script("""
            document.getElementById('width').value = '0.05';
            document.getElementById('scan-button').click();""")
        web.wait_for("return document.getElementById('message').textContent"
                     ".startsWith('The scanner cannot scan this: ')", "the refusal said")
        web.wait_for("return !document.getElementById('scan-button').disabled", "the page usable")
        web.script("document.getElementById('width').value = '50'")

        # Another client has the scanner (its document not fetched yet): the page
        # says the scanner is busy and scans once the other client is done.
        settings = web.script("return settings(false)")
        other = urllib.request.urlopen(urllib.request.Request(
            url + "eSCL/ScanJobs", data=settings.encode(), method="POST",
            headers={"Content-Type": "text/xml"}), timeout=60)
        assert other.status == 201, other.status
        other_job = other.headers["Location"]
        web.script("document.getElementById('scan-button').click()")
        web.wait_for("return document.getElementById('message').textContent"
                     ".startsWith('The scanner is busy')", "the busy scanner said")
        for _ in range(600):
            try:
                with urllib.request.urlopen(other_job + "/NextDocument", timeout=60) as reply:
                    reply.read()
                    break
            except urllib.error.HTTPError as error:
                assert error.code == 503, error.code
                time.sleep(0.5)
        web.wait_for("return document.getElementById('progress-text').textContent === 'done'",
                     "the scan after the other client's")
        assert web.script(message) == "", web.script(message)

        # At 400 px (a phone) nothing needs scrolling sideways.
        web.call("POST", web.s("/window/rect"), {"width": 400, "height": 900})
        widths = web.script("return [document.documentElement.scrollWidth, window.innerWidth]")
        assert widths[0] <= widths[1], widths
        web.shot(screenshot.replace(".png", "-400px.png"))
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
