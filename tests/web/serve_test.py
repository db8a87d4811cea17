#!/usr/bin/python3
"""web/serve.py against hostile paths, links out of its folder, bad options,
idle connections at its descriptor limit and requests sent a byte at a time.

  serve_test.py [SERVE_PY]
"""
import os
import resource
import socket
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SERVE = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "web", "serve.py")
TIMEOUT = 1.0  # the server's --timeout in these tests
failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what, flush=True)
    if not ok:
        failures.append(what)


class Server:
    """serve.py on a free port, with at most `descriptors` open files."""

    def __init__(self, folder, descriptors=None):
        limit = (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors, descriptors))) if descriptors else None
        self.process = subprocess.Popen([sys.executable, SERVE, "--dir", folder, "--port", "0", "--timeout", str(TIMEOUT)],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, preexec_fn=limit)
        line = self.process.stdout.readline()
        self.port = int(line.split("127.0.0.1:")[1].split("/")[0]) if "127.0.0.1:" in line else 0

    def cpu_seconds(self):
        with open(f"/proc/{self.process.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def connect(self, timeout=3.0):
        return socket.create_connection(("127.0.0.1", self.port), timeout=timeout)

    def status(self, target, timeout=3.0):
        """The status and body of GET target; (0, why) when no answer came."""
        try:
            with self.connect(timeout) as s:
                s.sendall(f"GET {target} HTTP/1.0\r\n\r\n".encode("latin-1"))
                reply = b""
                while chunk := s.recv(65536):
                    reply += chunk
        except OSError as e:
            return 0, repr(e)
        head, _, body = reply.partition(b"\r\n\r\n")
        parts = head.split(b" ", 2)
        return (int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0), body

    def close(self):
        self.process.kill()
        self.process.wait()
        self.process.stdout.close()
        self.stderr = self.process.stderr.read()
        self.process.stderr.close()


def make_folder(top):
    site = os.path.join(top, "site")
    os.makedirs(os.path.join(site, "data", "Textures"))
    files = {"index.html": "the page\n", "data/Pos.txt": "the path\n", "data/Textures/index.html": "inner page\n"}
    for name, text in files.items():
        with open(os.path.join(site, name), "w") as f:
            f.write(text)
    with open(os.path.join(top, "secret.txt"), "w") as f:
        f.write("outside\n")
    os.symlink("/etc/passwd", os.path.join(site, "data", "passwd"))
    os.symlink(os.path.join(top, "secret.txt"), os.path.join(site, "data", "secret"))
    os.symlink(top, os.path.join(site, "data", "up"))
    os.symlink("Pos.txt", os.path.join(site, "data", "inside"))
    os.mkfifo(os.path.join(site, "data", "pipe"))
    return site


# target, status, body (None: any)
PATHS = [
    ("/", 200, b"the page\n"),
    ("/index.html?x=1", 200, b"the page\n"),
    ("/data/Pos.txt", 200, b"the path\n"),
    ("/data/inside", 200, b"the path\n"),  # a link that stays inside
    ("/data/Textures/", 200, b"inner page\n"),
    ("/data/Textures", 301, None),
    ("//data/Pos.txt", 200, b"the path\n"),
    ("/data/", 200, None),  # a listing
    ("/data/passwd", 404, None),
    ("/data/secret", 404, None),
    ("/data/up/secret.txt", 404, None),
    ("/data/up/", 404, None),
    ("/data/pipe", 404, None),  # and answered at once
    ("/data/missing", 404, None),
    ("/data/%00", 400, None),
    ("/data/Pos.txt%00.html", 400, None),
    ("/%zz", 400, None),
    ("/data/%2", 400, None),
    ("/%ff%fe", 400, None),
    ("/%0a", 400, None),
    ("/../secret.txt", 400, None),
    ("/data/%2e%2e/%2e%2e/secret.txt", 400, None),
    ("/data\\..\\..\\secret.txt", 400, None),
    ("*", 400, None),
]

# arguments, part of the one line on stderr
OPTIONS = [
    (["--port", "70000"], "--port: takes a port from 0 to 65535"),
    (["--port", "-1"], "--port: takes a port from 0 to 65535"),
    (["--port", "eighty"], "--port: takes a port from 0 to 65535"),
    (["--timeout", "0"], "--timeout: takes seconds"),
    (["--frames", "3"], "unrecognized arguments: --frames"),
    (["--dir", "/nonexistent"], "holds no page"),
]


def test_paths(site):
    server = Server(site)
    for target, want, body in PATHS:
        started = time.monotonic()
        got, text = server.status(target)
        check(got == want and (body is None or text == body) and time.monotonic() - started < 2,
              f"GET {target}: {want} (got {got}, {text[:40]!r})")
    server.close()
    check("Traceback" not in server.stderr, f"no traceback for the paths: {server.stderr[-200:]!r}")


def test_options(site):
    runs = []
    for args, says in OPTIONS:
        full = ["--dir", site, *args] if "--dir" not in args else args
        runs.append((args, says, subprocess.Popen([sys.executable, SERVE, *full], stdout=subprocess.DEVNULL,
                                                  stderr=subprocess.PIPE, text=True)))
    for args, says, run in runs:
        try:
            _, err = run.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            run.kill()
            _, err = run.communicate()
        lines = err.splitlines()
        check(run.returncode != 0 and len(lines) == 1 and says in lines[0],
              f"{' '.join(args)}: one line with {says!r} (rc {run.returncode}, {err!r})")


def idle_connections(server, count):
    """`count` connections that send a request line and nothing more."""
    held = []
    for _ in range(count):
        try:
            s = server.connect(timeout=0.5)
            s.sendall(b"GET / HTTP/1.0\r\n")
            held.append(s)
        except OSError:
            break
    return held


def answered(s, within):
    """True when the server closed s (after any reply) within `within` seconds."""
    s.settimeout(within)
    try:
        while s.recv(4096):
            pass
        return True
    except OSError:
        return False


def test_idle(site, descriptors, count, what):
    """Idle connections beyond what the server holds: it neither spins nor
    stops answering, and every one of them ends within the timeout."""
    server = Server(site, descriptors)
    held = idle_connections(server, count)
    time.sleep(0.2)  # the server catches up with the queue
    cpu = server.cpu_seconds()
    time.sleep(0.6)
    spent = server.cpu_seconds() - cpu
    check(len(held) == count and spent < 0.2,
          f"{what}: {len(held)} of {count} idle connections, {spent:.2f} s of CPU in 0.6 s")
    ended = sum(answered(s, 3 * TIMEOUT + 1) for s in held)
    for s in held:
        s.close()
    check(ended == count, f"{what}: {ended} of {count} idle connections ended within the timeout")
    got = server.status("/data/Pos.txt")
    check(got == (200, b"the path\n"), f"{what}: afterwards a request is served ({got[0]})")
    server.close()
    check("Traceback" not in server.stderr, f"{what}: no traceback: {server.stderr[-200:]!r}")


def test_trickle(site):
    """A request sent a byte at a time, each within the timeout, still ends
    when the timeout has passed since the connection came."""
    server = Server(site)
    s = server.connect()
    started = time.monotonic()
    closed = False
    try:
        for byte in b"GET /index.html HTTP/1.0\r\nX-Slow: " + b"a" * 100:
            s.send(bytes([byte]))
            time.sleep(TIMEOUT / 4)
            if time.monotonic() - started > 3 * TIMEOUT:
                break
    except OSError:
        closed = True
    closed = closed or answered(s, TIMEOUT)
    s.close()
    elapsed = time.monotonic() - started
    check(closed and elapsed < 3 * TIMEOUT, f"a request sent a byte at a time ends after {elapsed:.1f} s")
    server.close()


def main():
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="varnel-serve-") as top:
        site = make_folder(top)
        test_paths(site)
        test_options(site)
        # each waits for the server's timeout; side by side
        slow = [threading.Thread(target=test_idle, args=(site, 128, 129, "129 idle connections under a "
                                                                         "128-descriptor limit")),
                threading.Thread(target=test_idle, args=(site, 28, 40, "40 idle connections under a "
                                                                       "28-descriptor limit (accept fails)")),
                threading.Thread(target=test_trickle, args=(site,))]
        for t in slow:
            t.start()
        for t in slow:
            t.join()
    if failures:
        sys.exit(f"serve tests: {len(failures)} failed")
    print(f"serve tests passed in {time.monotonic() - started:.1f} s")


if __name__ == "__main__":
    main()
