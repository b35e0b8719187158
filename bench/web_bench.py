#!/usr/bin/python3
"""The browser editor's server side under load, without a browser.

    web_bench.py SERVER WEB [SESSIONS] [SECONDS]

Starts the fee server (temporary SQLite database, demo data, a users file)
and harnolfees-web, then measures: the round trip of an operator action
(POST /api/action until the new state is back) on center 1, p50 and p99 over
500 tab switches; then SESSIONS sessions that each add and save a record
every 5 s (an edit of one record) for SECONDS, with the slowest save (from the Enter to the state
that says Saved) and the web host's memory per session.
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
        r = self.request("POST", path, urllib.parse.urlencode(params), h)
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


def main():
    server, web = sys.argv[1], sys.argv[2]
    sessions = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 20
    f = bt.Fixture(server, web, ["--max-sessions", str(sessions + 5)])
    try:
        port = int(f.url.rsplit(":", 1)[1].strip("/"))
        c = Client(port)
        c.post("/api/signin", {"user": "clerk", "password": "pw7391", "center": 1})
        times = []
        for i in range(500):
            t = time.perf_counter()
            c.post("/api/action", {"do": "tab", "index": i % 14 + 1})
            times.append((time.perf_counter() - t) * 1000)
        times.sort()
        print(f"action round trip, {len(times)} tab switches: p50 {times[len(times) // 2]:.2f} ms, "
              f"p99 {times[int(len(times) * 0.99)]:.2f} ms")
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
