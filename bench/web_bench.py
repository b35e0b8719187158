#!/usr/bin/python3
"""The browser editor under load.

    web_bench.py SERVER WEB [SESSIONS] [SECONDS]

Starts the fee server (temporary SQLite database, demo data, a users file;
HARNOLFEES_SERVER_THREADS request threads, default 16) and harnolfees-web,
puts 1,000 renewal option fees into center 1 and 100,000 into center 2, then
measures:
- the round trip of an operator action on center 1 (POST /api/action until
  the new state is back): p50 and p99 of 500 row selections on the
  1,000-record tab and of 200 switches between it and tab 1;
- in headless Chromium (when installed): click to updated page, p50 and p99
  of 100 switches between the 1,000-record tab and tab 1; the first render
  of the 100,000-row tab of center 2, from the click on the tab to its rows
  drawn, and jumps to its middle and end;
- SESSIONS sessions that each save an edit of one record every 5 s for
  SECONDS: the slowest save (from the Enter to the state that says Saved)
  and the web host's memory per session.
"""
import http.client, json, os, statistics, subprocess, sys, tempfile, threading, time, urllib.parse
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "web"))
import browser_test as bt  # the fixture: servers, users file, relay


class Client:
    def __init__(self, port):
        self.c = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        self.cookie, self.csrf = "", ""

    def request(self, *args, **kw):
        # The web host closes a connection idle for 5 s; open a new one.
        for attempt in (0, 1):
            try:
                self.c.request(*args, **kw)
                return self.c.getresponse()
            except (BrokenPipeError, ConnectionResetError, http.client.RemoteDisconnected):
                self.c.close()
                if attempt:
                    raise

    def post(self, path, params):
        h = {"X-HF-Request": "1", "Content-Type": "application/x-www-form-urlencoded",
             "Cookie": self.cookie, "X-HF-CSRF": self.csrf}
        r = self.request("POST", path, urllib.parse.urlencode(params).encode(), h)
        body = r.read()
        if r.getheader("Set-Cookie"):
            self.cookie = r.getheader("Set-Cookie").split(";")[0]
        s = json.loads(body)
        self.csrf = s.get("csrf", self.csrf)
        return s

    def events(self, since):
        r = self.request("GET", f"/api/events?since={since}", headers={"Cookie": self.cookie})
        return json.loads(r.read())


def rss_kb(pid):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def fill(db, center, count):
    """`count` renewal option fees for `center`, one a day from 1800-01-01."""
    import datetime, sqlite3
    con = sqlite3.connect(db, timeout=30)
    day = datetime.date(1800, 1, 1)
    con.executemany(
        "INSERT OR IGNORE INTO RenewalOptionFee VALUES (?, ?, ?, '2005-06-15 10:30:00')",
        [(center, (day + datetime.timedelta(days=i)).isoformat() + " 00:00:00", 100000 + i)
         for i in range(count)])
    con.commit()
    con.close()


TAB_SWITCH = """
    const [tab, rows, done] = arguments;
    const t0 = performance.now();
    document.getElementById('tabFees-' + tab).click();
    (function check() {
      const head = document.querySelectorAll('#gridHead .cell')[1].textContent;
      const shown = document.querySelector('#tabFees .selected').id === 'tabFees-' + tab &&
        head.startsWith(tab === 4 ? 'Renewal Option' : 'Membership Fee');
      const drawn = shown && document.querySelectorAll('#gridSpacer .row').length > 0;
      const spacer = document.getElementById('gridSpacer').getBoundingClientRect().height;
      if (drawn && (rows === 0 || spacer >= (rows - 1) * 22)) done(performance.now() - t0);
      else if (performance.now() - t0 > 60000)
        done('gave up: ' + document.querySelector('#tabFees .selected').id + ' ' + spacer);
      else requestAnimationFrame(check);
    })();"""


def browser_round_trip(f):
    b = f.browser(1280, 800)
    b.sign_in(center=1)
    b.wait(lambda: b.status() == "Center 1 loaded", "center 1 loaded")
    b.d.set_script_timeout(120)
    times = []
    for i in range(100):
        ms = b.d.execute_async_script(TAB_SWITCH, 4 if i % 2 == 0 else 1, 0)
        if isinstance(ms, str):
            raise RuntimeError(ms)
        times.append(ms)
    times.sort()
    print(f"click to updated page in Chromium, 100 switches between the 1,004-record tab and "
          f"tab 1: p50 {times[50]:.1f} ms, p99 {times[99]:.1f} ms")
    b.d.quit()
    f.browsers.remove(b)


def first_render(f):
    browser_round_trip(f)
    b = f.browser(1280, 800)
    b.sign_in(center=2)
    b.wait(lambda: b.status() == "Center 2 loaded", "center 2 loaded")
    b.d.set_script_timeout(120)
    times = []
    for _ in range(5):
        for tab, rows in ((4, 100000), (1, 0)):
            ms = b.d.execute_async_script(TAB_SWITCH, tab, rows)
            if isinstance(ms, str):
                raise RuntimeError(ms)
            if tab == 4:
                times.append(ms)
    times.sort()
    print(f"first render of the 100,000-row tab in Chromium (click to rows drawn), 5 times: "
          f"median {times[2]:.0f} ms, slowest {times[-1]:.0f} ms")
    # Scrolling: jump to the middle and the end, each until its rows are drawn.
    for where in ("middle", "end"):
        ms = b.d.execute_async_script("""
            const [where, done] = arguments;
            const g = document.getElementById('grdFees');
            const t0 = performance.now();
            g.scrollTop = where === 'end' ? g.scrollHeight : g.scrollHeight / 2;
            const want = Math.floor(g.scrollTop / 22) + 2;
            (function check() {
              const rows = [...document.querySelectorAll('#gridSpacer .row')].map(r => +r.dataset.row);
              if (rows.some(r => r >= want)) done(performance.now() - t0);
              else requestAnimationFrame(check);
            })();""", where)
        print(f"  a jump to the {where} of it: rows drawn after {ms:.0f} ms")


def main():
    server, web = sys.argv[1], sys.argv[2]
    sessions = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 20
    server_threads = os.environ.get("HARNOLFEES_SERVER_THREADS", "16")
    f = bt.Fixture(server, web, ["--max-sessions", str(sessions + 5)],
                   ["--threads", server_threads])
    print(f"fee server with --threads {server_threads}")
    try:
        port = int(f.url.rsplit(":", 1)[1].strip("/"))
        fill(f.db, 1, 1000)
        fill(f.db, 2, 100000)
        c = Client(port)
        c.post("/api/signin", {"user": "clerk", "password": "pw7391", "center": 1})
        c.post("/api/action", {"do": "tab", "index": 4})

        def timed(label, actions):
            times = []
            for a in actions:
                t = time.perf_counter()
                c.post("/api/action", a)
                times.append((time.perf_counter() - t) * 1000)
            times.sort()
            print(f"action round trip, {label}: p50 {times[len(times) // 2]:.2f} ms, "
                  f"p99 {times[int(len(times) * 0.99)]:.2f} ms")

        timed("500 row selections on a tab of 1,004 records",
              [{"do": "row", "row": i % 1000 + 1, "col": 0} for i in range(500)])
        timed("200 switches between that tab and tab 1",
              [{"do": "tab", "index": 1 if i % 2 == 0 else 4} for i in range(200)])
        c.post("/api/action", {"do": "tab", "index": 1})
        if bt.CHROMIUM and bt.DRIVER and bt.webdriver:
            first_render(f)
        web_pid = f.procs[1].pid
        before = rss_kb(web_pid)
        clients = []
        for _ in range(sessions):
            k = Client(port)
            k.post("/api/signin", {"user": "clerk", "password": "pw7391", "center": 1})
            clients.append(k)
        after = rss_kb(web_pid)
        print(f"{sessions} sessions signed in: web host RSS {before} kB -> {after} kB, "
              f"{(after - before) / sessions:.0f} kB a session")
        slowest, saves, refused = [0.0], [0], [0]
        lock = threading.Lock()

        def work(n, k):
            end = time.time() + seconds
            time.sleep(5 * n / sessions)
            fee = 0
            while time.time() < end:
                start = time.time()
                fee += 1
                k.post("/api/action", {"do": "tab", "index": 4})
                k.post("/api/action", {"do": "row", "row": 1, "col": 0})
                k.post("/api/action", {"do": "click", "name": "cmdEdit"})
                s = k.post("/api/action", {"do": "key", "name": "form", "key": "Enter",
                                           "t1": str(60 + fee % 30)})
                while s.get("busy"):
                    s = k.events(s["version"])
                took = time.time() - start
                with lock:
                    slowest[0] = max(slowest[0], took)
                    saves[0] += 1
                    if s.get("message"):
                        refused[0] += 1
                if s.get("message"):
                    k.post("/api/answer", {"id": s["message"]["id"], "answer": 1})
                    k.post("/api/action", {"do": "key", "name": "form", "key": "Escape"})
                    while k.post("/api/action", {"do": "none"}).get("message"):
                        pass
                time.sleep(max(0, 5 - (time.time() - start)))

        threads = [threading.Thread(target=work, args=(n, k)) for n, k in enumerate(clients)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print(f"{sessions} sessions saving every 5 s for {seconds:.0f} s: {saves[0]} saves "
              f"({refused[0]} answered with a message), "
              f"slowest {slowest[0] * 1000:.0f} ms; web host RSS {rss_kb(web_pid)} kB")
    finally:
        f.close()


if __name__ == "__main__":
    main()
