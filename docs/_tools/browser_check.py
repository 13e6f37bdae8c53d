"""Opens pages of the built site in headless Chromium: fails on any console error, and saves a screenshot of each.

Talks to the browser over its DevTools pipe (file descriptors 3 and 4), so it
needs nothing beyond the standard library and the browser itself. An error is
an uncaught exception, a console.error or console.assert, or a browser log
entry of level error (a resource that failed to load, for example).

    python docs/_tools/browser_check.py --site build/docs/html --screenshots DIR index.html tutorial/index.html
"""

from __future__ import annotations

import argparse
import base64
import fcntl
import json
import os
import select
import shutil
import signal
import sys
import tempfile
import time
from pathlib import Path
from typing import Any

WIDTH, HEIGHT = 1280, 1600
# After the load event, the page may still be typesetting math or loading fonts.
SETTLE_SECONDS = 2.0
TIMEOUT_SECONDS = 60.0


class Browser:
    def __init__(self, executable: str, profile: str) -> None:
        to_browser_read, to_browser_write = os.pipe()
        from_browser_read, from_browser_write = os.pipe()
        # Above 4, so that the dup2 onto 3 and 4 below cannot overwrite one of them.
        to_browser_read = fcntl.fcntl(to_browser_read, fcntl.F_DUPFD_CLOEXEC, 10)
        from_browser_write = fcntl.fcntl(from_browser_write, fcntl.F_DUPFD_CLOEXEC, 10)
        arguments = [
            executable,
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--no-first-run",
            "--hide-scrollbars",
            "--remote-debugging-pipe",
            f"--user-data-dir={profile}",
            "about:blank",
        ]
        self.pid = os.posix_spawn(
            executable,
            arguments,
            os.environ,
            file_actions=[
                (os.POSIX_SPAWN_DUP2, to_browser_read, 3),
                (os.POSIX_SPAWN_DUP2, from_browser_write, 4),
                (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
                (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0),
            ],
        )
        os.close(to_browser_read)
        os.close(from_browser_write)
        self.out, self.inp = to_browser_write, from_browser_read
        self.buffer = b""
        self.next_id = 0
        self.events: list[dict[str, Any]] = []

    def send(self, method: str, params: dict[str, Any] | None = None, session: str | None = None) -> dict[str, Any]:
        self.next_id += 1
        message: dict[str, Any] = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.out, json.dumps(message).encode() + b"\0")
        while True:
            reply = self.receive(time.monotonic() + TIMEOUT_SECONDS)
            if reply is None:
                raise TimeoutError(f"no answer to {method}")
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            self.events.append(reply)

    def receive(self, deadline: float) -> dict[str, Any] | None:
        while b"\0" not in self.buffer:
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not select.select([self.inp], [], [], remaining)[0]:
                return None
            chunk = os.read(self.inp, 1 << 20)
            if not chunk:
                raise RuntimeError("the browser closed its pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def wait_for(self, method: str, seconds: float) -> bool:
        deadline = time.monotonic() + seconds
        while True:
            event = self.receive(deadline)
            if event is None:
                return False
            self.events.append(event)
            if event.get("method") == method:
                return True

    def close(self) -> None:
        try:
            self.send("Browser.close")
        except (RuntimeError, TimeoutError, OSError):
            pass
        deadline = time.monotonic() + 10
        while os.waitpid(self.pid, os.WNOHANG) == (0, 0):
            if time.monotonic() > deadline:
                os.kill(self.pid, signal.SIGKILL)
                os.waitpid(self.pid, 0)
                break
            time.sleep(0.1)
        os.close(self.out)
        os.close(self.inp)


def errors_of(events: list[dict[str, Any]]) -> list[str]:
    found = []
    for event in events:
        method, params = event.get("method"), event.get("params", {})
        if method == "Runtime.exceptionThrown":
            details = params["exceptionDetails"]
            found.append(f"uncaught: {details.get('exception', {}).get('description') or details.get('text')}")
        elif method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
            found.append(
                "console."
                + params["type"]
                + ": "
                + " ".join(str(a.get("value", a.get("description"))) for a in params.get("args", []))
            )
        elif method == "Log.entryAdded" and params["entry"].get("level") == "error":
            entry = params["entry"]
            found.append(f"log: {entry.get('text')} {entry.get('url', '')}".rstrip())
    return found


def check_page(browser: Browser, url: str, screenshot: Path) -> list[str]:
    target = browser.send("Target.createTarget", {"url": "about:blank"})["targetId"]
    session = browser.send("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
    for domain in ("Runtime", "Log", "Page"):
        browser.send(f"{domain}.enable", session=session)
    browser.send(
        "Emulation.setDeviceMetricsOverride",
        {"width": WIDTH, "height": HEIGHT, "deviceScaleFactor": 1, "mobile": False},
        session=session,
    )
    browser.events.clear()
    browser.send("Page.navigate", {"url": url}, session=session)
    problems = [] if browser.wait_for("Page.loadEventFired", TIMEOUT_SECONDS) else ["the page did not load"]
    browser.wait_for("never", SETTLE_SECONDS)
    facts = browser.send(
        "Runtime.evaluate",
        {
            "returnByValue": True,
            "expression": (
                "JSON.stringify({title: document.title, math: document.querySelectorAll('mjx-container').length,"
                " texts: document.body.innerText.length})"
            ),
        },
        session=session,
    )["result"]["value"]
    data = browser.send("Page.captureScreenshot", {"format": "png"}, session=session)["data"]
    screenshot.write_bytes(base64.b64decode(data))
    problems += errors_of(browser.events)
    browser.send("Target.closeTarget", {"targetId": target})
    print(f"{url}: {facts}; screenshot {screenshot}")
    return problems


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("pages", nargs="+", help="paths of pages relative to --site")
    parser.add_argument("--site", type=Path, required=True, help="the built HTML site")
    parser.add_argument("--screenshots", type=Path, required=True, help="folder for the PNG files")
    parser.add_argument("--browser", default="chromium")
    args = parser.parse_args()
    executable = shutil.which(args.browser)
    if executable is None:
        sys.exit(f"{args.browser} not found")
    args.screenshots.mkdir(parents=True, exist_ok=True)
    failures = []
    with tempfile.TemporaryDirectory(prefix="zelk-docs-browser-") as profile:
        browser = Browser(executable, profile)
        try:
            for page in args.pages:
                path = (args.site / page).resolve()
                if not path.is_file():
                    failures.append(f"{page}: not built")
                    continue
                name = page.removesuffix(".html").replace("/", "-") + ".png"
                failures += [f"{page}: {p}" for p in check_page(browser, path.as_uri(), args.screenshots / name)]
        finally:
            browser.close()
    for failure in failures:
        print(failure, file=sys.stderr)
    print(
        f"{len(args.pages)} pages opened in {args.browser}: "
        + (f"{len(failures)} console errors" if failures else "no console errors")
    )
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
