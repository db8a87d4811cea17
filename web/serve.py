#!/usr/bin/env python3
"""Serves the page (build/web) on 127.0.0.1.

Cross-Origin-Opener-Policy and Cross-Origin-Embedder-Policy make the page
cross-origin isolated, which is what lets the browser give it shared memory
and so threads; with --no-isolation they are left out and the page draws on
one thread. Prints the address, then serves until interrupted.
"""
import argparse
import http.server
import os
import sys


class PageHandler(http.server.SimpleHTTPRequestHandler):
    isolated = True
    extensions_map = {
        **http.server.SimpleHTTPRequestHandler.extensions_map,
        ".wasm": "application/wasm",
        ".js": "text/javascript",
    }

    def end_headers(self):
        if self.isolated:
            self.send_header("Cross-Origin-Opener-Policy", "same-origin")
            self.send_header("Cross-Origin-Embedder-Policy", "require-corp")
        self.send_header("Cache-Control", "no-store")  # a rebuilt page is never mixed with an old module
        super().end_headers()

    def log_message(self, format, *args):
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dir", default=os.path.join(os.path.dirname(__file__), "..", "build", "web"))
    parser.add_argument("--port", type=int, default=8000, help="0 takes any free port")
    parser.add_argument("--no-isolation", action="store_true", help="leave the two headers out (one thread)")
    args = parser.parse_args()
    if not os.path.isfile(os.path.join(args.dir, "index.html")):
        sys.exit(f"serve.py: {args.dir} holds no page; make web builds it")
    PageHandler.isolated = not args.no_isolation
    handler = lambda *a, **k: PageHandler(*a, directory=args.dir, **k)
    try:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), handler)
    except OSError as e:
        sys.exit(f"serve.py: cannot serve on 127.0.0.1:{args.port}: {e.strerror}")
    threads = "threads: cross-origin isolated" if PageHandler.isolated else "one thread: not isolated"
    print(f"Varnel's page at http://127.0.0.1:{server.server_address[1]}/ ({threads}); Ctrl-C stops",
          flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
