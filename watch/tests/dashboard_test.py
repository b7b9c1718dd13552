#!/usr/bin/python3
"""The dashboard page in headless Chromium, served by the real sensor-watch over
the real bridge with the simulated library.

    dashboard_test.py SENSOR_WATCH SENSOR_BRIDGE TEST [SCREENSHOT]

TEST is "live" (the default scenario: every sensor, changing values, the stale
mark once the bridge is killed, no console error) or "escaping" (a scenario
of hostile names, shown as text). When Chromium, its driver or Selenium is
missing it says "[  SKIPPED ]", which CTest counts as skipped, or as a
failure where CI=true demands every tool."""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    print("[  SKIPPED ] python3-selenium is not installed")
    sys.exit(0)

CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    print("[  SKIPPED ] chromium or chromedriver is not installed")
    sys.exit(0)

SENSOR_WATCH, BRIDGE, TEST = sys.argv[1:4]
SCREENSHOT = sys.argv[4] if len(sys.argv) > 4 else ""
BLOCK = "/dev/shm/shareMemory_QORAInfo"
# Generous: every core of the machine may be busy.
DEADLINE = 60


def eventually(condition, what, limit=DEADLINE):
    end = time.monotonic() + limit
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.2)


def start_watch():
    watch = subprocess.Popen([SENSOR_WATCH, "--serve", "0"], stdout=subprocess.PIPE, text=True)
    line = watch.stdout.readline()
    match = re.search(r"http://127\.0\.0\.1:(\d+)/metrics", line)
    if not match:
        watch.kill()
        raise AssertionError(f"sensor-watch did not announce its port: {line!r}")
    return watch, int(match.group(1))


def start_browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", f"--user-data-dir={profile}", "--window-size=1400,1000"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(DRIVER), options=options)


def console_errors(browser):
    return [entry for entry in browser.get_log("browser") if entry["level"] == "SEVERE"]


def block_snapshot():
    """The snapshot the bridge published, read from the block itself."""
    with open(BLOCK, "rb") as block:
        content = block.read().split(b"\0", 1)[0]
    text = content[content.rfind(b"\n") + 1:]
    return json.loads(text.decode("utf-8", "replace")) if text else None


def block_sensors():
    snapshot = block_snapshot()
    return sorted(snapshot.keys()) if snapshot else None


def shown_sensors(browser):
    return sorted(element.text for element in browser.find_elements(By.CSS_SELECTOR, "#sensors .sensor h2"))


def values(browser):
    return browser.execute_script(
        "return [...document.querySelectorAll('#sensors td.value')].map(cell => cell.textContent);")


def test_live(browser, port, bridge):
    started = time.monotonic()
    browser.get(f"http://127.0.0.1:{port}/")
    eventually(lambda: browser.find_elements(By.CSS_SELECTOR, "#sensors td.value"), "the first readings")
    print(f"page shown with readings after {time.monotonic() - started:.2f} s")
    expected = eventually(lambda: os.path.exists(BLOCK) and block_sensors(), "the bridge's sensors")
    assert len(expected) > 10, expected
    eventually(lambda: shown_sensors(browser) == expected, "every sensor on the page")
    eventually(lambda: browser.find_element(By.ID, "stale").get_attribute("hidden") is not None,
               "a fresh snapshot")
    first = values(browser)
    eventually(lambda: values(browser) != first, "values that change")
    # Sparklines and the statistics are there for every reading, in its type's unit.
    assert all(cell.text != "-" for cell in browser.find_elements(By.CSS_SELECTOR, "#sensors td.average"))
    fans = browser.find_elements(By.XPATH, "//tr[td[@class='type' and text()='fan']]/td[contains(@class, 'value')]")
    assert fans and all(re.fullmatch(r"-?\d+ RPM", cell.text) for cell in fans), [cell.text for cell in fans]
    assert browser.find_element(By.ID, "metrics-link").get_attribute("href").endswith("/metrics")

    # Two temperatures in one chart.
    temperatures = browser.find_elements(By.XPATH, "//tr[td[@class='type' and text()='temperature']]//input")
    for checkbox in temperatures[:2]:
        browser.execute_script("arguments[0].click()", checkbox)
    eventually(lambda: len(browser.find_elements(By.CSS_SELECTOR, ".chart[data-type='temperature'] canvas")),
               "the temperature chart")
    eventually(lambda: len(browser.find_elements(
        By.CSS_SELECTOR, ".chart[data-type='temperature'] .u-series .u-label")) == 3, "two series and time")
    # Filters by type and by text.
    browser.find_element(By.CSS_SELECTOR, "#type-filter option[value='fan']").click()
    visible_types = {cell.text for cell in browser.find_elements(By.CSS_SELECTOR, "#sensors td.type")
                     if cell.is_displayed()}
    assert visible_types == {"fan"}, visible_types
    browser.find_element(By.CSS_SELECTOR, "#type-filter option[value='']").click()
    browser.find_element(By.ID, "text-filter").send_keys("core 0")
    labels = [cell.text for cell in browser.find_elements(By.CSS_SELECTOR, "#sensors td.label")
              if cell.is_displayed()]
    assert labels and all("core 0" in label.lower() for label in labels), labels
    browser.find_element(By.ID, "text-filter").clear()
    browser.execute_script("document.getElementById('text-filter').dispatchEvent(new Event('input'))")

    if SCREENSHOT:
        time.sleep(3)
        browser.execute_script("window.scrollTo(0, 0)")
        browser.save_screenshot(SCREENSHOT)

    bridge.kill()
    bridge.wait()
    stale = browser.find_element(By.ID, "stale")
    eventually(lambda: stale.is_displayed() and "stale" in stale.text, "the stale mark")
    errors = console_errors(browser)
    assert not errors, errors


HOSTILE = r'''sensor "<script>window.injected=1</script>"
reading temperature "<img src=x onerror=window.injected=2>" 41 drift 1
reading temperature "Quote \" and 'apostrophe'" 42
reading other "Caf\xE9 \xFF\xFE" 1
sensor "<b>bold</b> & \"amp\""
reading clock "</td></tr><tr><td>row" 3600 drift 10
'''


def test_escaping(browser, port, _bridge):
    browser.get(f"http://127.0.0.1:{port}/")
    eventually(lambda: len(shown_sensors(browser)) == 2, "both hostile sensors")
    assert shown_sensors(browser) == ['<b>bold</b> & "amp"', "<script>window.injected=1</script>"], \
        shown_sensors(browser)
    labels = sorted(cell.text for cell in browser.find_elements(By.CSS_SELECTOR, "#sensors td.label"))
    # The bridge's JSON writer escapes the bytes that are not UTF-8 in its own
    # way; the page shows what the block says.
    published = sorted(label for readings in block_snapshot().values() for reading in readings
                       for label in reading)
    assert labels == published, (labels, published)
    assert labels[:2] == ["</td></tr><tr><td>row", "<img src=x onerror=window.injected=2>"], labels
    assert labels[2].startswith("Caf") and labels[3] == "Quote \" and 'apostrophe'", labels
    # Nothing became markup: no script ran, no element was made from a name.
    assert browser.execute_script("return window.injected === undefined")
    assert not browser.find_elements(By.CSS_SELECTOR, "#sensors img, #sensors b, #sensors script")
    assert len(browser.find_elements(By.CSS_SELECTOR, "#sensors tbody tr")) == 4
    # A hostile label in a chart's legend is text too.
    browser.execute_script("arguments[0].click()", browser.find_element(
        By.XPATH, "//tr[td[@class='label' and starts-with(text(), '<img')]]//input"))
    eventually(lambda: any(label.text.startswith("<img src=x") for label in browser.find_elements(
        By.CSS_SELECTOR, ".chart .u-series .u-label")), "the chart legend")
    assert not browser.find_elements(By.CSS_SELECTOR, ".chart img")
    assert browser.execute_script("return window.injected === undefined")
    errors = console_errors(browser)
    assert not errors, errors


def main():
    scratch = tempfile.mkdtemp(prefix="dashboard-test-")
    environment = dict(os.environ)
    if TEST == "escaping":
        scenario = os.path.join(scratch, "scenario.txt")
        with open(scenario, "w", encoding="latin-1") as file:
            file.write(HOSTILE)
        environment["HWINFO_SIM_SCENARIO"] = scenario
    # A block left over from an interrupted run would be taken for sensor-watch's own.
    if os.path.exists(BLOCK):
        os.remove(BLOCK)
    watch, port = start_watch()
    bridge = subprocess.Popen([BRIDGE], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=environment)
    browser = None
    try:
        browser = start_browser(os.path.join(scratch, "profile"))
        {"live": test_live, "escaping": test_escaping}[TEST](browser, port, bridge)
    finally:
        if browser:
            browser.quit()
        for process in (bridge, watch):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(scratch, ignore_errors=True)
    print(f"dashboard {TEST}: 1 passed, 0 failed")


if __name__ == "__main__":
    main()
