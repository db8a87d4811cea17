#!/usr/bin/env python3
"""Serves the page (build/web) on 127.0.0.1.

Cross-Origin-Opener-Policy and Cross-Origin-Embedder-Policy make the page
cross-origin isolated, which is what lets the browser give it shared memory
and so threads; with --no-isolation they are left out and the page draws on
one thread. Prints the address, then serves until interrupted.

Only regular files whose real path lies inside the folder are served (a
symbolic link may point elsewhere inside it, never out of it), and folders
inside it are listed. A connection has --timeout seconds to send its request
and as long for every later read or write; at most MAX_CONNECTIONS are
served at once and the rest are answered 503 at once, so idle connections
can neither hold descriptors for ever nor push the server to its descriptor
limit. Should accepting fail all the same (EMFILE), the server waits a
moment before it tries again instead of spinning.
"""
import argparse
import email.utils
import errno
import html
import http.server
import io
import os
import socket
import stat
import sys
import threading
import time
import urllib.parse

MAX_CONNECTIONS = 64
BUSY_RESPONSE = b"HTTP/1.0 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
# accept's failures that a later try may not meet: out of descriptors or memory
ACCEPT_SHORTAGES = (errno.EMFILE, errno.ENFILE, errno.ENOBUFS, errno.ENOMEM)
HEX = frozenset("0123456789abcdefABCDEF")


class DeadlineReader(io.RawIOBase):
    """The connection's input, every read within its per-read timeout and the
    request's deadline: a client that sends a byte now and then cannot keep
    its connection open past the deadline."""

    def __init__(self, sock, timeout):
        self.sock = sock
        self.timeout = timeout
        self.deadline = time.monotonic() + timeout

    def readable(self):
        return True

    def readinto(self, buffer):
        left = self.deadline - time.monotonic()
        if left <= 0:
            raise TimeoutError("the request took too long")
        self.sock.settimeout(min(left, self.timeout))
        try:
            return self.sock.recv_into(buffer)
        finally:
            self.sock.settimeout(self.timeout)  # writes keep the plain per-operation timeout


def path_part(target):
    """The request target less its query and fragment."""
    return target.split("?", 1)[0].split("#", 1)[0]


def decoded_path(target):
    """The request target's path as folder names below the served folder, or
    None when it is no path to serve: a bad or cut-off %-escape, bytes that
    are not UTF-8, a NUL or another control character, a backslash, or a
    '..' step."""
    path = path_part(target)
    if not path.startswith("/"):
        return None
    for i, c in enumerate(path):
        if c == "%" and not (path[i + 1:i + 2] in HEX and path[i + 2:i + 3] in HEX):
            return None
    try:
        text = urllib.parse.unquote_to_bytes(path).decode("utf-8")
    except UnicodeDecodeError:
        return None
    if any(ord(c) < 32 or ord(c) == 127 for c in text) or "\\" in text:
        return None
    parts = [p for p in text.split("/") if p not in ("", ".")]
    return None if ".." in parts else parts


class PageHandler(http.server.SimpleHTTPRequestHandler):
    isolated = True
    timeout = 10.0
    extensions_map = {
        **http.server.SimpleHTTPRequestHandler.extensions_map,
        ".wasm": "application/wasm",
        ".js": "text/javascript",
    }

    def setup(self):
        super().setup()
        self.rfile = io.BufferedReader(DeadlineReader(self.connection, self.timeout))

    def end_headers(self):
        if self.isolated:
            self.send_header("Cross-Origin-Opener-Policy", "same-origin")
            self.send_header("Cross-Origin-Embedder-Policy", "require-corp")
        self.send_header("Cache-Control", "no-store")  # a rebuilt page is never mixed with an old module
        super().end_headers()

    def inside(self, path):
        root = os.path.realpath(self.directory)
        return os.path.commonpath([root, os.path.realpath(path)]) == root

    def send_head(self):
        """Headers for GET and HEAD; the open file, or None when the answer is
        complete. The file is opened first and what was opened is checked
        (its real path through /proc, and that it is a regular file), so a
        link swapped in after a check cannot lead outside."""
        parts = decoded_path(self.path)
        if parts is None:
            self.send_error(400, "Bad path")
            return None
        path = os.path.join(self.directory, *parts)
        if os.path.isdir(path) and self.inside(path):
            if not path_part(self.path).endswith("/"):
                self.send_response(301)
                self.send_header("Location", "".join("/" + urllib.parse.quote(p) for p in parts) + "/")
                self.send_header("Content-Length", "0")
                self.end_headers()
                return None
            index = os.path.join(path, "index.html")
            if not os.path.lexists(index):
                return self.list_directory(path)
            path = index
        try:
            fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)  # a named pipe must not stall
        except OSError:
            self.send_error(404, "File not found")
            return None
        try:
            s = os.fstat(fd)
            if not stat.S_ISREG(s.st_mode) or not self.inside(f"/proc/self/fd/{fd}"):
                os.close(fd)
                self.send_error(404, "File not found")
                return None
            f = os.fdopen(fd, "rb")
        except BaseException:
            os.close(fd)
            raise
        self.send_response(200)
        self.send_header("Content-type", self.guess_type(path))
        self.send_header("Content-Length", str(s.st_size))
        self.send_header("Last-Modified", email.utils.formatdate(s.st_mtime, usegmt=True))
        self.end_headers()
        return f

    def list_directory(self, path):
        try:
            names = sorted(os.listdir(path), key=str.lower)
        except OSError:
            self.send_error(404, "No permission to list directory")
            return None
        items = ""
        for n in names:
            link = urllib.parse.quote(n + ("/" if os.path.isdir(os.path.join(path, n)) else ""), errors="surrogateescape")
            items += f'<li><a href="{link}">{html.escape(n)}</a></li>\n'
        body = f"<!DOCTYPE html>\n<html><body><ul>\n{items}</ul></body></html>\n".encode("utf-8", "surrogateescape")
        self.send_response(200)
        self.send_header("Content-type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        return io.BytesIO(body)

    def log_message(self, format, *args):
        pass


class PageServer(http.server.ThreadingHTTPServer):
    """One thread per connection, at most MAX_CONNECTIONS of them."""

    request_queue_size = 128  # connections waiting to be accepted, beyond which the kernel holds them off
    block_on_close = False

    def __init__(self, address, handler):
        self.slots = threading.BoundedSemaphore(MAX_CONNECTIONS)
        self.accept_pause = 0.0
        super().__init__(address, handler)

    def get_request(self):
        try:
            request = super().get_request()
        except OSError as e:
            if e.errno in ACCEPT_SHORTAGES:
                # The connection stays queued; the next try comes once other
                # connections had time to end, up to a second later.
                self.accept_pause = min(1.0, max(0.05, 2 * self.accept_pause))
                time.sleep(self.accept_pause)
            raise
        self.accept_pause = 0.0
        return request

    def process_request(self, request, client_address):
        if not self.slots.acquire(blocking=False):
            try:
                request.setblocking(False)
                request.send(BUSY_RESPONSE)  # fits the empty send buffer of a new connection
            except OSError:
                pass
            self.shutdown_request(request)
            return
        try:
            super().process_request(request, client_address)
        except BaseException:
            self.slots.release()
            raise

    def process_request_thread(self, request, client_address):
        try:
            super().process_request_thread(request, client_address)
        finally:
            self.slots.release()

    def handle_error(self, request, client_address):
        # Timeouts and clients that went away are ordinary here; anything
        # else is one line, never a traceback per request.
        kind, value = sys.exc_info()[:2]
        if not issubclass(kind, (TimeoutError, ConnectionError)):
            print(f"serve.py: a request from {client_address[0]} failed: {kind.__name__}: {value}", file=sys.stderr,
                  flush=True)


class OneLineParser(argparse.ArgumentParser):
    """Bad options get one line, not the usage and a line."""

    def error(self, message):
        self.exit(2, f"serve.py: {message} (serve.py --help tells the options)\n")


def bounded(convert, low, high, takes):
    """An option's type: a number convert reads from low to high, else one
    line saying what the option takes."""
    def read(text):
        try:
            value = convert(text)
        except ValueError:
            value = None
        if value is None or not low <= value <= high:
            raise argparse.ArgumentTypeError(f"takes {takes}, not {text!r}")
        return value
    return read


port_number = bounded(int, 0, 65535, "a port from 0 to 65535 (0: any free one)")
seconds = bounded(float, 0.1, 3600, "seconds from 0.1 to 3600")


def main():
    parser = OneLineParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dir", default=os.path.join(os.path.dirname(__file__), "..", "build", "web"))
    parser.add_argument("--port", type=port_number, default=8000, help="0 takes any free port")
    parser.add_argument("--no-isolation", action="store_true", help="leave the two headers out (one thread)")
    parser.add_argument("--timeout", type=seconds, default=PageHandler.timeout,
                        help="seconds a connection has to send its request, and for each read or write after it")
    args = parser.parse_args()
    if not os.path.isfile(os.path.join(args.dir, "index.html")):
        sys.exit(f"serve.py: {args.dir} holds no page; make web builds it")
    PageHandler.isolated = not args.no_isolation
    PageHandler.timeout = args.timeout
    directory = os.path.abspath(args.dir)
    handler = lambda *a, **k: PageHandler(*a, directory=directory, **k)
    try:
        server = PageServer(("127.0.0.1", args.port), handler)
    except OSError as e:
        sys.exit(f"serve.py: cannot serve on 127.0.0.1:{args.port}: {e.strerror or e}")
    threads = "threads: cross-origin isolated" if PageHandler.isolated else "one thread: not isolated"
    print(f"Varnel's page at http://127.0.0.1:{server.server_address[1]}/ ({threads}); Ctrl-C stops",
          flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
