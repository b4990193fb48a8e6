"""The web page's figures: the inbox of a full SIM (30 messages) on screen, measured in headless
Chromium from navigation start to the list drawn, and what the bridge adds to the atsms run it
makes; the simulated modem answers after 20 ms. Prints figures, judges nothing.
    bench/web.py BUILD_DIR [RUNS]"""

import os
import statistics
import subprocess
import sys
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
# At least 5 page loads (after one to warm the browser up) and 20 bridge runs: a single run on a
# busy machine says little.
runs = max(int(sys.argv[2]) if len(sys.argv) > 2 else 5, 5)
os.environ.update(ATSMS_PATH=f"{build}/atsms", ATSMS_WEB_PATH=f"{build}/atsms-web",
                  MODEM_SIM_PATH=f"{build}/tools/modem-sim/modem-sim", ATSMS_SOURCE_DIR=root)
sys.path.insert(0, os.path.join(root, "tests", "web"))
import harness  # noqa: E402

SIM = ["--fill", "SM:30", "--answer-delay", "20"]


def page_figure(bed):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.support.ui import WebDriverWait
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    times = []
    try:
        for run in range(runs + 1):
            driver.get(bed.page)
            WebDriverWait(driver, 60).until(
                lambda d: d.execute_script("return performance.getEntriesByName('atsms-list-drawn').length"))
            count = driver.execute_script("return document.getElementById('messages').dataset.count")
            if count != "30":
                raise AssertionError(f"the page shows {count} messages, not 30")
            drawn = driver.execute_script("return performance.getEntriesByName('atsms-list-drawn')[0].startTime")
            if run > 0:  # the first load starts the browser's processes too
                times.append(drawn)
    finally:
        driver.quit()
    return times


def bridge_figure(bed):
    """Wall time of atsms alone and of the bridge running the same atsms (as CGI, no server)."""
    env = {"REQUEST_METHOD": "GET", "QUERY_STRING": "op=list&storage=sim", "REMOTE_USER": "bench",
           "HTTP_HOST": "127.0.0.1", "ATSMS_CONFIG": bed.config, "PATH": "/usr/bin:/bin"}
    direct = [bed.atsms_path, "-q", "-j", "-w", "10", "--join", "--", bed.port, "sim", "list"]
    alone, bridged = [], []
    for _ in range(runs * 4):  # interleaved, so that both see the same machine (20 pairs or more)
        start = time.perf_counter()
        subprocess.run(direct, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        alone.append((time.perf_counter() - start) * 1000)
        start = time.perf_counter()
        out = subprocess.run([os.environ["ATSMS_WEB_PATH"]], env=env, capture_output=True).stdout
        bridged.append((time.perf_counter() - start) * 1000)
        if b'"status":30' not in out:
            raise AssertionError("the bridge's run did not list 30 messages: " + out[-200:].decode(errors="replace"))
    return alone, bridged


def fixed_cost(bed, document):
    """The bridge's own time: a stand-in for atsms prints the same document at once, run alone and
    through the bridge, so that the modem's timing does not blur the difference."""
    stand_in = os.path.join(bed.dir, "stand-in")
    with open(os.path.join(bed.dir, "listing.json"), "wb") as f:
        f.write(document)
    with open(stand_in, "w") as f:
        f.write(f"#!/bin/sh\nexec cat {bed.dir}/listing.json\n")
    os.chmod(stand_in, 0o755)
    config = os.path.join(bed.dir, "stand-in.conf")
    with open(config, "w") as f:
        f.write(f"config modem 'm'\n\toption port '{bed.port}'\nconfig web\n\toption atsms '{stand_in}'\n")
    env = {"REQUEST_METHOD": "GET", "QUERY_STRING": "op=list&storage=sim", "REMOTE_USER": "bench",
           "HTTP_HOST": "127.0.0.1", "ATSMS_CONFIG": config, "PATH": "/usr/bin:/bin"}
    differences = []
    for _ in range(50):
        start = time.perf_counter()
        subprocess.run([stand_in], stdout=subprocess.PIPE)
        alone = time.perf_counter() - start
        start = time.perf_counter()
        subprocess.run([os.environ["ATSMS_WEB_PATH"]], env=env, stdout=subprocess.PIPE)
        differences.append((time.perf_counter() - start - alone) * 1000)
    return statistics.median(differences)


def main():
    bed = harness.TestBed("", SIM, open_page=True, quick=True)
    try:
        alone, bridged = bridge_figure(bed)
        document = subprocess.run([bed.atsms_path, "-q", "-j", "--join", bed.port, "sim", "list"],
                                  capture_output=True).stdout
        fixed = fixed_cost(bed, document)
        try:
            page = page_figure(bed)
        except ImportError as e:
            page = None
            print(f"web page: not measured ({e}; scripts/deps installs Selenium and Chromium)")
    finally:
        bed.stop()
    size = os.path.getsize(os.path.join(root, "web", "index.html")) + \
        os.path.getsize(os.path.join(root, "web", "atsms.js")) + os.path.getsize(os.path.join(root, "web", "atsms.css"))
    print()
    print(f"Web page and bridge, full SIM of 30, -q, modem answering after 20 ms (medians of {runs} page loads after "
          f"one to warm up, {runs * 4} bridge runs; targets in brackets)")
    if page:
        print(f"  page: navigation start to the list drawn   {statistics.median(page):8.1f} ms  "
              f"(worst {max(page):.1f})  [500 ms]")
    a, b = statistics.median(alone), statistics.median(bridged)
    added = statistics.median(y - x for x, y in zip(alone, bridged))
    print(f"  atsms -q -j --join sim list alone          {a:8.1f} ms")
    print(f"  the same run through the bridge (CGI)      {b:8.1f} ms")
    print(f"  the bridge adds (median of the pairs)      {added:8.1f} ms  [20 ms]")
    print(f"  the bridge's own cost (a stand-in printing the same {len(document)} bytes at once) "
          f"{fixed:.1f} ms")
    stripped = os.path.join(bed.dir + "-strip")
    subprocess.run(["strip", "-o", stripped, os.environ["ATSMS_WEB_PATH"]], check=True)
    print(f"  page files {size} bytes [40 KB]; atsms-web stripped {os.path.getsize(stripped)} bytes")
    os.remove(stripped)


if __name__ == "__main__":
    main()
