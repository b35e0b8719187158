#!/usr/bin/env python3
"""Measures how the fee server and the driver hold up under hostile clients.

    tools/attack_figures.py BUILD_DIR [--server-only]

Starts its own harnolfees-server (with a users file and demonstration data)
and its own hostile HTTP servers, all on 127.0.0.1, and prints one line per
figure. Every attack loop is bounded in count and in time.
"""
import http.server
import os
import socket
import socketserver
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import base64
import zlib

HOST = "127.0.0.1"


def status(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1]) * 1024
    return 0


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def basic(user, password):
    return base64.b64encode(f"{user}:{password}".encode()).decode()


def request(port, head, body=b"", source=HOST, timeout=10.0):
    """One request on a fresh connection; (status, reply bytes, seconds)."""
    start = time.monotonic()
    s = socket.create_connection((HOST, port), timeout=timeout, source_address=(source, 0))
    try:
        s.sendall(head.encode() + body)
        reply = b""
        while True:
            try:
                chunk = s.recv(65536)
            except (ConnectionResetError, socket.timeout):
                break
            if not chunk:
                break
            reply += chunk
            if len(reply) > 8 << 30:
                break
    finally:
        s.close()
    code = int(reply.split(b" ", 2)[1]) if reply.startswith(b"HTTP/") else 0
    return code, reply, time.monotonic() - start


def get(port, auth, source=HOST):
    return request(port, f"GET /TermFeesAX.asp?Center=1 HTTP/1.1\r\nHost: x\r\n"
                         f"Authorization: Basic {auth}\r\nConnection: close\r\n\r\n",
                   source=source)


def start_server(build, tmp, extra=()):
    users = os.path.join(tmp, "users")
    line = subprocess.run([f"{build}/server/harnolfees-server", "--hash-password", "ann", "*",
                           "*"], input="s3cret\n", capture_output=True, text=True,
                          check=True).stdout
    with open(users, "w") as f:
        f.write(line)
    db = os.path.join(tmp, f"fees-{time.monotonic_ns()}.db")
    proc = subprocess.Popen([f"{build}/server/harnolfees-server", "--db", db, "--demo",
                             "--listen", f"{HOST}:0", "--users", users, *extra],
                            stdout=subprocess.PIPE, stderr=open(os.path.join(tmp, "log"), "a"),
                            text=True)
    port = int(proc.stdout.readline().rsplit(":", 1)[1])
    return proc, port


def chunked_bodies(port, pid):
    """4 x 400 MB chunked posts without credentials, at once."""
    before = status(pid, "VmRSS")
    sent = [0] * 4

    def one(i):
        s = socket.create_connection((HOST, port), timeout=10)
        s.sendall(b"POST /TermFeesAX.asp HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n"
                  b"Content-Type: application/x-www-form-urlencoded\r\n\r\n")
        chunk = b"100000\r\n" + b"A" * 0x100000 + b"\r\n"
        deadline = time.monotonic() + 30
        try:
            while sent[i] < 400 << 20 and time.monotonic() < deadline:
                s.sendall(chunk)
                sent[i] += len(chunk)
        except OSError:
            pass
        s.close()

    threads = [threading.Thread(target=one, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    codes, times = [], []
    for _ in range(20):
        code, _, took = get(port, basic("ann", "s3cret"))
        codes.append(code)
        times.append(took)
    for t in threads:
        t.join()
    grown = status(pid, "VmHWM") - before
    print(f"4 x 400 MB chunked posts without credentials: {sum(sent) >> 20} MB accepted by the "
          f"socket before the refusal; server peak RSS grew {grown >> 20} MB; normal GET during "
          f"it: {codes.count(200)}/20 answered 200, max {max(times) * 1000:.0f} ms")


def many_ranges(port, pid):
    before = status(pid, "VmRSS")
    ranges = "bytes=0-" + ",0-" * 2000
    code, reply, took = request(port, f"GET /TermFeesAX.asp?Center=1 HTTP/1.1\r\nHost: x\r\n"
                                      f"Authorization: Basic {basic('ann', 's3cret')}\r\n"
                                      f"Range: {ranges}\r\nConnection: close\r\n\r\n")
    grown = status(pid, "VmHWM") - before
    print(f"GET with 2,000 ranges ({len(ranges)} bytes of header): status {code}, reply "
          f"{len(reply)} bytes in {took * 1000:.1f} ms; server peak RSS grew {grown >> 20} MB")


def slow_headers(port, connections=16, seconds=30):
    """Connections that send one header line every 5 s, for a bounded time."""
    stop = time.monotonic() + seconds
    socks = []
    for _ in range(connections):
        # The attacker has an address of its own, as it would on a network:
        # the limit per address is what leaves room for everyone else.
        s = socket.create_connection((HOST, port), timeout=5, source_address=("127.0.0.2", 0))
        s.sendall(b"GET /TermFeesAX.asp?Center=1 HTTP/1.1\r\n")
        socks.append(s)

    def drip():
        n = 0
        while time.monotonic() < stop:
            time.sleep(5)
            for s in socks:
                try:
                    s.sendall(f"X-Slow-{n}: 1\r\n".encode())
                except OSError:
                    pass
            n += 1

    t = threading.Thread(target=drip)
    t.start()
    time.sleep(1)
    try:
        code, _, took = request(port, f"GET /TermFeesAX.asp?Center=1 HTTP/1.1\r\nHost: x\r\n"
                                      f"Authorization: Basic {basic('ann', 's3cret')}\r\n"
                                      f"Connection: close\r\n\r\n", timeout=seconds + 10)
        said = f"status {code} after {took * 1000:.0f} ms"
    except OSError as e:
        said = f"no answer ({e})"
    t.join()
    for s in socks:
        s.close()
    print(f"{connections} connections sending a header line every 5 s for {seconds} s: "
          f"a normal GET got {said}")


def header_drip(port, every=2.0, seconds=24):
    """One connection that sends a header line every 2 s: how long the server keeps it."""
    s = socket.create_connection((HOST, port), timeout=5)
    s.sendall(b"GET /TermFeesAX.asp?Center=1 HTTP/1.1\r\n")
    start, said = time.monotonic(), f"still open after {seconds} s"
    for i in range(int(seconds / every)):
        time.sleep(every)
        try:
            s.sendall(f"X-Drip-{i}: 1\r\n".encode())
            s.settimeout(0.01)
            try:
                if s.recv(100) == b"":
                    said = f"closed after {time.monotonic() - start:.1f} s"
                    break
            except socket.timeout:
                pass
        except OSError:
            said = f"closed after {time.monotonic() - start:.1f} s"
            break
    s.close()
    print(f"a header line every {every:.0f} s: the connection was {said}")


def idle_connections(port, connections=1000, wait=60):
    """Connections that send nothing; then one normal GET, waited for at most `wait` s."""
    socks = []
    for _ in range(connections):
        try:
            socks.append(socket.create_connection((HOST, port), timeout=5))
        except OSError:
            break
    time.sleep(0.5)
    try:
        code, _, took = request(port, f"GET /TermFeesAX.asp?Center=1 HTTP/1.1\r\nHost: x\r\n"
                                      f"Authorization: Basic {basic('ann', 's3cret')}\r\n"
                                      f"Connection: close\r\n\r\n", timeout=wait)
        said = f"status {code} after {took * 1000:.0f} ms"
    except OSError as e:
        said = f"no answer within {wait} s ({e})"
    for s in socks:
        s.close()
    print(f"{len(socks)} idle connections that send nothing: the first normal GET got {said}")


def kept_alive_savers(port, clients=32, seconds=20):
    """Clients that post once a second over one kept-alive connection each."""
    import http.client
    stop = time.monotonic() + seconds
    latencies, unanswered = [], [0]
    lock = threading.Lock()
    body = ("SQL=" + " DELETE FROM RENEWALOPTIONFEE WHERE EffectivityDate = '1/1/1990' AND "
            "CenterID = 1".replace(" ", "+").replace("'", "%27").replace("/", "%2F")
            .replace("=", "%3D"))
    headers = {"Authorization": f"Basic {basic('ann', 's3cret')}",
               "Content-Type": "application/x-www-form-urlencoded"}

    def saver():
        conn = http.client.HTTPConnection(HOST, port, timeout=5)
        while time.monotonic() < stop:
            begun = time.monotonic()
            try:
                conn.request("POST", "/TermFeesAX.asp", body=body, headers=headers)
                conn.getresponse().read()
                with lock:
                    latencies.append(time.monotonic() - begun)
            except (OSError, http.client.HTTPException):
                with lock:
                    unanswered[0] += 1
                conn.close()
                conn = http.client.HTTPConnection(HOST, port, timeout=5)
            time.sleep(max(0.0, 1.0 - (time.monotonic() - begun)))
        conn.close()

    threads = [threading.Thread(target=saver) for _ in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    latencies.sort()
    p99 = latencies[int(len(latencies) * 0.99) - 1] if latencies else 0
    print(f"{clients} clients posting once a second over kept-alive connections for {seconds} s: "
          f"{len(latencies)} answered, {unanswered[0]} unanswered (5 s time-out); latency p99 "
          f"{p99 * 1000:.0f} ms, worst {max(latencies, default=0) * 1000:.0f} ms")


def refusal_times(port):
    unknown, wrong = [], []
    for i in range(30):
        for user, out in (("nobody", unknown), ("ann", wrong)):
            code, _, took = get(port, basic(user, f"guess{i}"))
            assert code == 401, code
            out.append(took * 1000)
    u, w = statistics.median(unknown), statistics.median(wrong)
    print(f"refusal times (median of 30 each): unknown user {u:.2f} ms, wrong password "
          f"{w:.2f} ms, difference {abs(u - w) / max(u, w) * 100:.1f}%")


def login_flood(port, pid):
    """Wrong passwords from 127.0.0.2 for 10 s; ann from 127.0.0.1 meanwhile."""
    stop = time.monotonic() + 10
    counts = {}

    def flood():
        while time.monotonic() < stop:
            code, _, _ = get(port, basic("ann", "wrong"), source="127.0.0.2")
            counts[code] = counts.get(code, 0) + 1

    cpu0, t0 = cpu_seconds(pid), time.monotonic()
    threads = [threading.Thread(target=flood) for _ in range(4)]
    for t in threads:
        t.start()
    times = []
    while time.monotonic() < stop:
        code, _, took = get(port, basic("ann", "s3cret"))
        if code == 200:
            times.append(took * 1000)
        time.sleep(0.05)
    for t in threads:
        t.join()
    cores = (cpu_seconds(pid) - cpu0) / (time.monotonic() - t0)
    print(f"failed-login flood (4 clients, 10 s): replies {dict(sorted(counts.items()))}; "
          f"server CPU {cores:.2f} cores; other user's GET p50 {statistics.median(times):.2f} ms "
          f"over {len(times)} requests")


class Quiet(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass


def gzip_bomb(unpacked):
    packer = zlib.compressobj(9, zlib.DEFLATED, 31)
    piece = b" " * (1 << 20)
    out = [packer.compress(piece) for _ in range(unpacked >> 20)]
    return b"".join(out) + packer.flush()


class Bomb(Quiet):
    body = b""

    def do_GET(self):
        if self.path.startswith("/bomb/"):
            self.send_response(200)
            self.send_header("Content-Encoding", "gzip")
            self.send_header("Content-Length", str(len(self.body)))
            self.end_headers()
            self.wfile.write(self.body)
        else:  # 1.2 GiB without a length, ended by closing the connection
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            piece = b"<TermFees>" + b" " * ((1 << 20) - 10)
            try:
                for _ in range(1229):
                    self.wfile.write(piece)
            except OSError:
                pass


def driver(build):
    Bomb.body = gzip_bomb(3 << 30)
    with socketserver.ThreadingTCPServer((HOST, 0), Bomb) as srv:
        threading.Thread(target=srv.serve_forever, daemon=True).start()
        port = srv.server_address[1]
        print(f"gzip bomb: {len(Bomb.body) >> 10} KB unpacking to 3 GiB")
        for kind in ("bomb", "long"):
            run = subprocess.run(["/usr/bin/time", "-f", "%M", f"{build}/apps/harnolfees", "show",
                                  f"http://{HOST}:{port}/{kind}/", "1"], capture_output=True,
                                 text=True, timeout=600)
            peak = int(run.stderr.strip().splitlines()[-1]) * 1024
            said = (run.stdout + run.stderr).strip().splitlines()
            said = next((l for l in said if "larger" in l), said[0] if said else "")
            print(f"driver under the {kind} reply: peak RSS {peak >> 20} MB (cap 1024 MB); "
                  f"said: {said[:160]}")
        srv.shutdown()


def main():
    args = [a for a in sys.argv[1:] if a != "--server-only"]
    build = args[0] if args else "build"
    with tempfile.TemporaryDirectory() as tmp:
        proc, port = start_server(build, tmp, ["--max-failed-logins", "1000000"])
        try:
            chunked_bodies(port, proc.pid)
            many_ranges(port, proc.pid)
            refusal_times(port)
            slow_headers(port)
            slow_headers(port, 256)
            header_drip(port)
            idle_connections(port)
            kept_alive_savers(port)
        finally:
            proc.terminate()
            proc.wait()
        proc, port = start_server(build, tmp)
        try:
            login_flood(port, proc.pid)
        finally:
            proc.terminate()
            proc.wait()
        with open(os.path.join(tmp, "log")) as f:
            braked = [l for l in f if "failed logins" in l]
        print(f"brake lines in the log: {len(braked)}: {braked[0].strip() if braked else ''}")
    if "--server-only" not in sys.argv:
        driver(build)


if __name__ == "__main__":
    main()
