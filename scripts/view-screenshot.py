#!/usr/bin/python3
"""Makes docs/view.png, the README's picture of sensor-watch's full-screen view:
the built sensor-watch in a tmux terminal of 30 rows and 100 columns beside the
bridge and the simulated library's default scenario, filtered on "cpu", its
screen turned into a page and photographed by headless Chromium.

    scripts/view-screenshot.py [BIN [OUTPUT]]   (default build/default/bin, docs/view.png)

It uses the machine's one block, so no other sensor-watch or bridge may run."""

import html
import os
import re
import subprocess
import sys
import tempfile
import time

BIN = sys.argv[1] if len(sys.argv) > 1 else "build/default/bin"
OUTPUT = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "docs/view.png")
TMUX = ["tmux", "-L", f"view-screenshot-{os.getpid()}"]
# How the view's attributes look: reverse for the heading, bold, dim. Others
# (tmux adds default colours) change nothing.
STYLES = {"7": "background:#d0d0d0;color:#1e1e1e", "1": "font-weight:bold", "2": "color:#808080"}


def page(screen):
    """The screen with its escape sequences as an HTML page of spans."""
    out, active = [], set()
    for part in re.split(r"(\x1b\[[0-9;]*m)", screen):
        if part.startswith("\x1b["):
            for code in part[2:-1].split(";"):
                if code in ("", "0"):
                    active.clear()
                elif code in STYLES:
                    active.add(code)
        elif part:
            style = ";".join(STYLES[code] for code in sorted(active))
            out.append(f'<span style="{style}">{html.escape(part)}</span>' if style else html.escape(part))
    return ("<html><body style='margin:0;background:#1e1e1e;color:#e0e0e0'><pre style=\"margin:8px;"
            "font:14px 'DejaVu Sans Mono'\">" + "".join(out) + "</pre></body></html>")


def main():
    subprocess.run(TMUX + ["new-session", "-d", "-x", "100", "-y", "30", "-s", "view",
                           os.path.join(BIN, "sensor-watch")], check=True)
    # The bridge only opens the block that sensor-watch makes.
    while not os.path.exists("/dev/shm/shareMemory_QORAInfo"):
        time.sleep(0.1)
    bridge = subprocess.Popen([os.path.join(BIN, "sensor-bridge")], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    try:
        time.sleep(8)
        subprocess.run(TMUX + ["send-keys", "-t", "view", "/cpu", "Enter"], check=True)
        time.sleep(4)
        screen = subprocess.run(TMUX + ["capture-pane", "-e", "-N", "-p", "-t", "view"], check=True,
                                capture_output=True, text=True).stdout
        subprocess.run(TMUX + ["send-keys", "-t", "view", "q"], check=True)
    finally:
        bridge.terminate()
        bridge.wait()
        subprocess.run(TMUX + ["kill-server"])
    with tempfile.TemporaryDirectory() as scratch:
        with open(os.path.join(scratch, "view.html"), "w", encoding="utf-8") as file:
            file.write(page(screen))
        subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                        f"--user-data-dir={scratch}/profile", "--window-size=860,500",
                        f"--screenshot={OUTPUT}", f"file://{scratch}/view.html"],
                       check=True, capture_output=True)
    print(f"wrote {OUTPUT} ({os.path.getsize(OUTPUT)} bytes)")


if __name__ == "__main__":
    main()
