#!/usr/bin/python3
"""Opens a gallery page in headless Chromium, driven through its DevTools
protocol over a pipe (no network, nothing downloaded), and checks what a user
sees: every picture decodes, the filter box narrows the cards to those that
match, the page asks for nothing outside the destination and logs no error.

usage: browser.py PAGE ITEMS [SCREENSHOT.png]
  ITEMS: the number of resources the page must show.
exit 0 when every check passes.
"""
import base64
import fcntl
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time


class Browser:
    def __init__(self, profile):
        chrome_in, self._to_chrome = os.pipe()
        self._from_chrome, chrome_out = os.pipe()
        exe = shutil.which("chromium") or shutil.which("chromium-browser")
        if not exe:
            sys.exit("browser.py: chromium is not installed")
        # Chromium reads commands from descriptor 3 and answers on 4.
        self.proc = subprocess.Popen(
            [exe, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--no-default-browser-check", "--disable-extensions", "--disable-background-networking",
             "--remote-debugging-pipe", f"--user-data-dir={profile}", "about:blank"],
            pass_fds=(3, 4), preexec_fn=lambda: self._place(chrome_in, chrome_out),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(chrome_in)
        os.close(chrome_out)
        self._buffer = b""
        self._next = 0
        self.events = []
        self.session = None

    @staticmethod
    def _place(chrome_in, chrome_out):
        # Out of the way first, so that neither lands on the other's number.
        high_in = fcntl.fcntl(chrome_in, fcntl.F_DUPFD, 10)
        high_out = fcntl.fcntl(chrome_out, fcntl.F_DUPFD, 10)
        os.dup2(high_in, 3)
        os.dup2(high_out, 4)

    def close(self):
        try:
            self.call("Browser.close", session=False)
        except Exception:  # noqa: BLE001 - it may be gone already
            pass
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()

    def _read(self):
        while b"\0" not in self._buffer:
            chunk = os.read(self._from_chrome, 1 << 20)
            if not chunk:
                raise RuntimeError("chromium ended")
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, session=True, **params):
        self._next += 1
        message = {"id": self._next, "method": method, "params": params}
        if session and self.session:
            message["sessionId"] = self.session
        os.write(self._to_chrome, json.dumps(message).encode() + b"\0")
        while True:
            reply = self._read()
            if reply.get("id") == self._next:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            self.events.append(reply)

    def wait_for(self, method, timeout=60):
        end = time.time() + timeout
        while time.time() < end:
            for i, e in enumerate(self.events):
                if e.get("method") == method:
                    return self.events.pop(i)
            self.events.append(self._read())
        raise RuntimeError(f"no {method} within {timeout} s")

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, awaitPromise=True, returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression[:60]}...: {result['exceptionDetails']}")
        return result["result"].get("value")


def main(page, items, screenshot=None):
    page = pathlib.Path(page).resolve()
    failures = []
    with tempfile.TemporaryDirectory() as profile:
        b = Browser(profile)
        try:
            target = b.call("Target.createTarget", url="about:blank")["targetId"]
            b.session = b.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
            for domain in ("Page", "Network", "Runtime", "Log"):
                b.call(f"{domain}.enable")
            b.call("Emulation.setDeviceMetricsOverride", width=1280, height=860, deviceScaleFactor=1, mobile=False)
            started = time.time()
            b.call("Page.navigate", url=page.as_uri())
            b.wait_for("Page.loadEventFired")
            paint = b.evaluate("performance.getEntriesByName('first-contentful-paint')[0]?.startTime ?? -1")
            print(f"loaded in {(time.time() - started) * 1000:.0f} ms, first paint after {paint:.0f} ms")

            # Scrolled through as a user would: the cards of each group come as it nears the view.
            steps = b.evaluate("""(async () => {
                let steps = 0;
                const frame = () => new Promise(r => requestAnimationFrame(() => setTimeout(r, 30)));
                await frame();
                while (document.querySelector('.grid > template') && steps < 5000) {
                    window.scrollBy(0, innerHeight);
                    await frame();
                    steps++;
                }
                return document.querySelector('.grid > template') ? -1 : steps;
            })()""")
            if steps < 0:
                failures.append("scrolling to the end leaves cards that never show")
            shown = b.evaluate("document.querySelectorAll('figure').length")
            if shown != items:
                failures.append(f"the page shows {shown} resources, not {items}")
            # Lazy pictures are asked for at once here, so that every one is decoded.
            widths = b.evaluate("""Promise.all([...document.images].map(i => {
                i.loading = 'eager';
                return i.decode().then(() => i.naturalWidth, () => 0);
            }))""")
            broken = b.evaluate("[...document.images].filter(i => !i.naturalWidth).map(i => i.getAttribute('src'))")
            print(f"{len(widths)} pictures, {len(broken)} that do not decode")
            failures += [f"does not decode: {src}" for src in broken[:20]]

            # The filter: a card's name, then a program file's, narrow the page
            # to the cards whose name, file or program file holds them; an
            # empty box shows all again.
            words = b.evaluate("""[document.querySelector('figcaption b')?.textContent,
                                   document.querySelectorAll('summary b')[1]?.textContent].filter(Boolean)""")
            # Types into the box as a user would; the cards on show after the page's pause.
            def typed(text):
                return b.evaluate(f"""(async () => {{
                    const box = document.getElementById('filter');
                    box.focus();
                    box.value = {json.dumps(text)};
                    box.dispatchEvent(new Event('input'));
                    await new Promise(r => setTimeout(r, 600));
                    return [...document.querySelectorAll('figure')].filter(f => f.checkVisibility()).length;
                }})()""")
            for word in words:
                expected = b.evaluate(f"""[...document.querySelectorAll('figure')].filter(f =>
                    (f.dataset.text + ' ' + f.closest('details').dataset.source).toLowerCase()
                        .includes({json.dumps(word.lower())})).length""")
                visible = typed(word)
                said = b.evaluate("Number(document.getElementById('shown').textContent)")
                print(f"filter {word!r}: {visible} cards shown, {expected} match, the page says {said}")
                if not (0 < visible == expected == said):
                    failures.append(f"filter {word!r}: {visible} shown, {expected} match, the page says {said}")
            back = typed("")
            if back != shown:
                failures.append(f"an empty filter shows {back} of {shown}")

            if screenshot:
                # The icons, where the page has them: the pictures users come for.
                b.evaluate("""[...document.querySelectorAll('h2')].find(h => h.textContent.startsWith('Icons'))
                    ?.closest('section').scrollIntoView()""")
                time.sleep(0.3)
                data = b.call("Page.captureScreenshot", format="png")["data"]
                pathlib.Path(screenshot).write_bytes(base64.b64decode(data))

            # Nothing asked for outside the destination, nothing logged as an error.
            root = page.parent.as_uri() + "/"
            for e in b.events:
                if e.get("method") == "Network.requestWillBeSent":
                    url = e["params"]["request"]["url"]
                    if not url.startswith(root):
                        failures.append(f"asked for {url}")
                if e.get("method") == "Log.entryAdded" and e["params"]["entry"]["level"] == "error":
                    failures.append(f"logged: {e['params']['entry']['text']}")
                if e.get("method") == "Runtime.exceptionThrown":
                    failures.append(f"script error: {e['params']['exceptionDetails']}")
        finally:
            b.close()
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], int(sys.argv[2]), sys.argv[3] if len(sys.argv) > 3 else None))
