#!/usr/bin/python3
"""The line's dashboard under a line's load: 20 stations x 4 ports written directly as rows and
records (as the stations' publishers and pools write them), 100 live pages on /events. Prints
the time from a row's commit to its event at the pages (median, 99th percentile), the same from
a record's commit to the day's count that holds it (a record sends no notice: its station's
port row, turned to the verdict after it, does), the dashboard's CPU and the database's (both
in % of one core) over the run.

    scripts/pg-test-cluster.sh /usr/bin/python3 tools/bench/dashboard_bench.py build/skav [SECONDS] [EARLIER]

EARLIER: records the day has already when the run starts (a line's day: 80 ports, a board
every 30 s each, 10 hours is 96,000).

Not a test: figures for docs/performance.md."""
import os
import socket
import statistics
import subprocess
import sys
import threading
import time

STATIONS, PORTS, PAGES = 20, 4, 100
MARKS_PER_SECOND = 10        # rows whose change the pages are timed on
BEAT_SECONDS = 0.5           # each station's heartbeat, as the publisher's
RECORDS_PER_SECOND = 80 / 30  # 80 ports, a board every 30 s each


def cpu_seconds(pids):
    total = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except OSError:
            pass
    return total / os.sysconf("SC_CLK_TCK")


def server_pids():
    pids = []
    for pid in os.listdir("/proc"):
        if pid.isdigit():
            try:
                with open(f"/proc/{pid}/comm") as f:
                    if f.read().strip() == "postgres":
                        pids.append(int(pid))
            except OSError:
                pass
    return pids


class Psql:
    """One psql session fed through a pipe; commit() returns when the statements are done."""

    def __init__(self, url):
        self.process = subprocess.Popen(["psql", url, "-q", "-X", "-v", "ON_ERROR_STOP=1"],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
        # Results go nowhere; \echo still reaches standard output.
        self.process.stdin.write("\\o /dev/null\n")

    def commit(self, sql):
        self.process.stdin.write(sql + ";\n\\echo done\n")
        self.process.stdin.flush()
        line = self.process.stdout.readline()
        if line.strip() != "done":
            raise RuntimeError("psql: " + line)
        return time.monotonic()

    def close(self):
        self.process.stdin.close()
        self.process.wait()


def page(port, arrivals, ready):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(f"GET /events HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
    buffer = b""
    seen = set()  # a mark stays in the line until its row changes again: its first event counts
    boards = None  # the day's count of boards the page last had
    ready.release()
    while True:
        data = s.recv(65536)
        if not data:
            return
        at = time.monotonic()
        buffer += data
        while b"\n" in buffer:
            line, buffer = buffer.split(b"\n", 1)
            start = line.find(b'"MARK-')
            while start >= 0:
                end = line.find(b'"', start + 1)
                mark = line[start + 1:end].decode()
                if mark not in seen:
                    seen.add(mark)
                    arrivals.setdefault(mark, []).append(at)
                start = line.find(b'"MARK-', end + 1)
            count = line.find(b'"totals":{"boards":')
            if count >= 0:
                digits = line[count + 19:line.find(b",", count)]
                now_boards = int(digits)
                if boards is not None:
                    for n in range(boards + 1, now_boards + 1):
                        arrivals.setdefault(f"BOARD-{n}", []).append(at)
                boards = now_boards


def programming(skav, url, source, stalled):
    """Seconds `skav run` takes for 200 simulated boards on 4 ports, with its ports' rows locked
    away from it (its publisher waits, retries, drops) or not. The pool itself is not held up."""
    import shutil
    import tempfile
    work = tempfile.mkdtemp(prefix="skav-bench-")
    shutil.copytree(os.path.join(source, "examples"), os.path.join(work, "s"))
    holder = None
    if stalled:
        holder = Psql(url)
        holder.commit("BEGIN; LOCK TABLE skav_ports IN ACCESS EXCLUSIVE MODE")
    started = time.monotonic()
    subprocess.run([skav, "run", "--simulate=50", "--ports", "4", "--boards", "200", "--no-barcode",
                    "--pool", url, "--tick-ms", "5", "--settings", os.path.join(work, "s", "settings.reg"),
                    "-C", os.path.join(work, "s")], check=True, capture_output=True, timeout=600)
    took = time.monotonic() - started
    if holder:
        holder.commit("ROLLBACK")
        holder.close()
    shutil.rmtree(work, ignore_errors=True)
    return took


def main():
    skav = sys.argv[1]
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 30
    earlier = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    url = os.environ["SKAV_TEST_PG_URL"]
    subprocess.run([skav, "pool", "init", "--pool", url, "--first", "020000000000", "--last", "0200FFFFFFFF"],
                   check=True, capture_output=True)
    subprocess.run([skav, "pool", "migrate", "--pool", url], check=True, capture_output=True)
    db = Psql(url)
    ports = Psql(url)
    address = 0x020000000000
    if earlier:
        series = f"generate_series({address + 1}, {address + earlier}) a"
        db.commit(f"INSERT INTO skav_addresses (address, host, port, outcome, finished_at) SELECT a, 'pc-00', 'eth0', "
                  f"'pass', now() FROM {series}; INSERT INTO skav_records (address, host, port, ended_at, stored_at, \"time\", "
                  f"verdict, board_mac) SELECT a, 'pc-00', 'eth0', now(), now() - interval '10 minutes', now()::text, "
                  f"'pass', 'earlier' FROM {series}; ANALYZE skav_addresses, skav_records")
        address += earlier
    # The stations programmed afterwards take their addresses from well past those written here
    # (the range's search would otherwise step over each of them, one statement apiece).
    db.commit(f"UPDATE skav_range SET next_address = {0x020000000000 + 0x1000000}")
    rows = ",".join(f"('station-{s:02d}', {p}, 'pc-{s:02d}', 'eth{p}', 'SEARCHING')"
                    for s in range(STATIONS) for p in range(PORTS))
    db.commit(f"INSERT INTO skav_ports (station_id, port, host, adapter, word) VALUES {rows}")
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    dashboard = subprocess.Popen([skav, "dashboard", "--pool", url, "--listen", f"127.0.0.1:{port}",
                                  "--live-clients", str(PAGES)], stdout=subprocess.DEVNULL)
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port)).close()
                break
            except OSError:
                time.sleep(0.1)
        arrivals = {}
        ready = threading.Semaphore(0)
        for _ in range(PAGES):
            threading.Thread(target=page, args=(port, arrivals, ready), daemon=True).start()
        for _ in range(PAGES):
            ready.acquire()
        time.sleep(2)
        commits = {}
        records = {}
        cpu_dashboard, cpu_server = cpu_seconds([dashboard.pid]), cpu_seconds(server_pids())
        started = time.monotonic()
        next_beat = next_mark = next_record = started
        mark = record = 0
        while time.monotonic() - started < seconds:
            now = time.monotonic()
            if now >= next_beat:
                db.commit(";".join(f"UPDATE skav_ports SET heartbeat = now() WHERE station_id = 'station-{s:02d}'"
                                   for s in range(STATIONS)))
                next_beat += BEAT_SECONDS
            if now >= next_record:
                record += 1
                address += 1
                station, port_no = record % STATIONS, record % PORTS
                records[f"BOARD-{earlier + record}"] = db.commit(
                    "BEGIN; INSERT INTO skav_addresses (address, host, port, outcome, finished_at) "
                    f"VALUES ({address}, 'pc-00', 'eth0', 'pass', now()); "
                    "INSERT INTO skav_records (address, host, port, ended_at, \"time\", verdict, board_mac) "
                    f"VALUES ({address}, 'pc-00', 'eth0', now(), now()::text, 'pass', '02:00:00:00:{record // 256:02X}:{record % 256:02X}'); COMMIT")
                # Then the station's port row turns to the verdict, on its publisher's connection.
                ports.commit(
                    f"WITH w AS (UPDATE skav_ports SET word = 'PASS', verdict = 'PASS', changed_at = now(), heartbeat = now() "
                    f"WHERE station_id = 'station-{station:02d}' AND port = {port_no} RETURNING 1) "
                    f"SELECT pg_notify('skav_line', 'station-{station:02d}') FROM w")
                next_record += 1 / RECORDS_PER_SECOND
            if now >= next_mark:
                mark += 1
                station, port_no = mark % STATIONS, mark % PORTS
                commits[f"MARK-{mark}"] = db.commit(
                    "WITH w AS (UPDATE skav_ports SET word = " + f"'MARK-{mark}', changed_at = now(), heartbeat = now() "
                    f"WHERE station_id = 'station-{station:02d}' AND port = {port_no} RETURNING 1) "
                    f"SELECT pg_notify('skav_line', 'station-{station:02d}') FROM w")
                next_mark += 1 / MARKS_PER_SECOND
            time.sleep(max(0, min(next_beat, next_mark, next_record) - time.monotonic()))
        elapsed = time.monotonic() - started
        cpu_dashboard = cpu_seconds([dashboard.pid]) - cpu_dashboard
        cpu_server = cpu_seconds(server_pids()) - cpu_server
        time.sleep(2)
        print(f"{STATIONS} stations x {PORTS} ports, {PAGES} live pages, {elapsed:.0f} s: "
              f"{len(commits)} timed changes, {record} records, heartbeats every {BEAT_SECONDS} s")
        for what, timed in (("a port row's commit to its event", commits),
                            ("a record's commit to the count that holds it", records)):
            latencies = []
            missed = 0
            for name, committed in timed.items():
                seen = arrivals.get(name, [])
                missed += PAGES - len(seen)
                latencies += [(at - committed) * 1000 for at in seen]
            latencies.sort()
            if latencies:
                print(f"{what}: median {statistics.median(latencies):.0f} ms, "
                      f"p99 {latencies[int(len(latencies) * 0.99) - 1]:.0f} ms, "
                      f"{len(latencies)} events, {missed} not seen (a change overtaken by the next one)")
        print(f"dashboard CPU {cpu_dashboard / elapsed * 100:.1f} % of a core; "
              f"database CPU {cpu_server / elapsed * 100:.1f} % of a core")
    finally:
        dashboard.terminate()
        dashboard.wait()
        db.close()
        ports.close()
    source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    free = programming(skav, url, source, False)
    stalled = programming(skav, url, source, True)
    print(f"200 boards on 4 simulated ports: {free:.1f} s publishing, {stalled:.1f} s with the ports' "
          f"table locked away from the publisher")


if __name__ == "__main__":
    main()
