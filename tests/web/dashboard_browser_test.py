#!/usr/bin/python3
"""The line's dashboard in a real browser (headless chromium through chromium-driver), against
the private PostgreSQL server of scripts/pg-test-cluster.sh and a station of simulated boards:
the page shows each station and port, a board's PASS appears, a killed station goes OFFLINE,
and a host name made of HTML shows as text.

    pg-test-cluster.sh dashboard_browser_test.py SKAV_BINARY SOURCE_DIR [SCREENSHOT.png]

Every process it starts is stopped on the way out, whatever happened. Exits 77 (skipped) where
there is no server, browser or driver."""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SKIP = 77
HTML_HOST = '<img src=x onerror="document.title=\'pwned\'"><b id="pwn">line-7</b>'


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def until(what, condition, limit):
    """Waits at most `limit` seconds for `condition`; fails the test saying `what` otherwise."""
    deadline = time.monotonic() + limit
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"not within {limit} s: {what}")
        time.sleep(0.2)


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    skav, source = sys.argv[1], sys.argv[2]
    screenshot = sys.argv[3] if len(sys.argv) > 3 else ""
    url = os.environ.get("SKAV_TEST_PG_URL")
    if not url:
        print("skipped: no private PostgreSQL server:", os.environ.get("SKAV_TEST_PG_SKIP", "?"))
        return SKIP
    try:
        from selenium import webdriver
        from selenium.webdriver.common.by import By
    except ImportError:
        print("skipped: no python3-selenium")
        return SKIP
    driver_path = shutil.which("chromedriver")
    if not driver_path or not shutil.which("chromium"):
        print("skipped: no chromium or chromium-driver")
        return SKIP

    work = tempfile.mkdtemp(prefix="skav-dashboard-")
    processes = []
    browser = None

    def start(argv, name):
        out = open(os.path.join(work, name + ".txt"), "w")
        process = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        processes.append(process)
        return process

    try:
        subprocess.run([skav, "pool", "init", "--pool", url, "--first", "020000000000",
                        "--last", "0200000003FF"], check=True, timeout=60, capture_output=True)
        subprocess.run([skav, "pool", "migrate", "--pool", url], check=True, timeout=60, capture_output=True)
        station_dir = os.path.join(work, "station")
        shutil.copytree(os.path.join(source, "examples"), station_dir)
        # Two ports of boards that take a while each, so that the station is still running when
        # it is killed; the first board passes within a few seconds.
        station = start([skav, "run", "--simulate=50", "--ports", "2", "--no-barcode", "--pool", url,
                         "--tick-ms", "100", "--settings", os.path.join(station_dir, "settings.reg"),
                         "-C", station_dir], "station")
        port = free_port()
        dashboard = start([skav, "dashboard", "--pool", url, "--listen", f"127.0.0.1:{port}"], "dashboard")

        options = webdriver.ChromeOptions()
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1280,900"):
            options.add_argument(flag)
        options.binary_location = shutil.which("chromium")
        from selenium.webdriver.chrome.service import Service
        browser = webdriver.Chrome(service=Service(executable_path=driver_path), options=options)
        browser.set_page_load_timeout(30)
        until("the dashboard answers", lambda: dashboard.poll() is None and answers(port), 30)

        # A station whose host name is markup (anyone may name a PC), alive for the test's length.
        psql(url, "INSERT INTO skav_ports (station_id, port, host, adapter, word, heartbeat) "
                  "VALUES ('html-host', 0, :'host', 'eth0', 'SEARCHING', now() + interval '1 hour')",
             HTML_HOST)
        browser.get(f"http://127.0.0.1:{port}/")

        def tiles():
            # Read in one go: the page redraws its tiles at every change.
            return [tuple(t) for t in browser.execute_script(
                "return [...document.querySelectorAll('.tile')].map(t => "
                "[t.closest('.station').querySelector('h3').textContent, t.dataset.word])")]

        def marks():
            # Each tile's word, the shape drawn beside it, its strokes, and its last verdict line.
            return [tuple(t) for t in browser.execute_script(
                "return [...document.querySelectorAll('.tile')].map(t => { const m = t.querySelector('svg.mark'); "
                "const last = [...t.children].map(c => c.textContent).find(x => x.startsWith('last: ')); "
                "return [t.dataset.word, m ? m.dataset.mark : '', m ? m.querySelectorAll('path').length : 0, "
                "last || ''] })")]

        # Each station and port: the simulated station's two, the HTML-named one's one.
        until("three tiles", lambda: len(tiles()) == 3, 30)
        until("a board's PASS", lambda: any(word == "PASS" for _, word in tiles()), 60)
        hosts = {host for host, _ in tiles()}
        assert any(host.startswith(HTML_HOST) for host in hosts), hosts
        assert not browser.find_elements(By.ID, "pwn"), "the host name became markup"
        assert browser.title != "pwned", "the host name ran as script"
        # The word's shape, drawn from the same outlines the windows draw.
        until("PASS drawn with its tick", lambda: any(
            word == "PASS" and mark == "tick" and paths > 0 for word, mark, paths, _ in marks()), 60)
        until("SEARCHING drawn with its magnifier", lambda: any(
            word == "SEARCHING" and mark == "magnifier" and paths > 0 for word, mark, paths, _ in marks()), 30)
        if screenshot:
            browser.save_screenshot(screenshot)
        # The last board's verdict stays on its tile while the next board is worked on.
        until("a last PASS beside the next board",
              lambda: any(word not in ("PASS", "OFFLINE") and last.startswith("last: pass")
                          for word, _, _, last in marks()), 60)

        station.send_signal(signal.SIGKILL)
        station.wait(timeout=30)
        # Its heartbeat stops; five seconds later by the database's clock it is OFFLINE.
        until("the killed station's ports OFFLINE",
              lambda: [w for h, w in tiles() if not h.startswith(HTML_HOST)] == ["OFFLINE", "OFFLINE"], 30)
        assert [w for h, w in tiles() if h.startswith(HTML_HOST)] == ["SEARCHING"], tiles()
        print("dashboard in the browser: stations, PASS, shapes, the last verdict, OFFLINE and an HTML host name as text")
        return 0
    except Exception:
        for name in ("station", "dashboard"):
            path = os.path.join(work, name + ".txt")
            if os.path.exists(path):
                with open(path) as f:
                    print(f"--- {name}:\n" + f.read()[-3000:], file=sys.stderr)
        raise
    finally:
        if browser is not None:
            browser.quit()
        for process in processes:
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(work, ignore_errors=True)


def answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def psql(url, sql, host):
    """Runs `sql` with :'host' bound to `host` (psql quotes it; -c would not interpolate)."""
    subprocess.run(["psql", url, "-q", "-v", "ON_ERROR_STOP=1", "-v", f"host={host}"], input=sql + ";\n",
                   text=True, check=True, timeout=30, capture_output=True)


if __name__ == "__main__":
    sys.exit(main())
