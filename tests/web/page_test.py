#!/usr/bin/python3
"""The page (build/web) in headless Chromium, driven over the DevTools protocol.

  page_test.py                 the tests: a scripted walk draws the frame
                               varnel-render draws, served isolated (threads),
                               not isolated and from a file (one thread), at
                               two sizes on one and two threads; a damaged data folder opened with the
                               folder picker is refused with varnel-render's
                               line; the page's keys and mouse reach the
                               program
  page_test.py --bench         ms per frame in the page beside varnel-render's
                               (the best of three runs each)
  page_test.py --screenshot F  the running page as a PNG image
"""
import argparse
import asyncio
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request

import websockets

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
# Keys, mouse, F11, End, Tab through every view and back to the frame.
WALK = ("2:mouse:40,-6 3:key:UP 3:key:UP 4:key:LEFT 5:key:F11 6:mouse:-90,12 7:key:END "
        "8:key:TAB 9:key:TAB 10:key:TAB 11:key:TAB 12:key:TAB 13:key:TAB 14:key:DOWN 15:mouse:25,0")
WALK_FRAMES = 16
SIZES = [(400, 300), (401, 301)]
CHROMIUM_FLAGS = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--remote-debugging-port=0", "--window-size=880,1000"]


def fnv1a_bmp(path):
    """FNV-1a over a 24-bit BMP's pixels as 0x00RRGGBB words, low byte first, rows top down."""
    data = open(path, "rb").read()
    offset, width, height = (int.from_bytes(data[a:a + 4], "little", signed=True) for a in (10, 18, 22))
    stride = (width * 3 + 3) & ~3
    h = 2166136261
    for y in range(abs(height)):
        row = offset + (abs(height) - 1 - y if height > 0 else y) * stride
        for x in range(width):
            for byte in (*data[row + 3 * x:row + 3 * x + 3], 0):  # B, G, R, then the zero top byte
                h = ((h ^ byte) * 16777619) & 0xFFFFFFFF
    return h


class Native:
    """varnel-render in a scratch copy of a data folder."""

    def __init__(self, build, scratch):
        self.render = os.path.join(build, "varnel-render")
        self.scratch = scratch

    def run(self, data, *args):
        folder = os.path.join(self.scratch, "native-data")
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(data, folder)
        return subprocess.run([self.render, "--data", folder, *map(str, args)], capture_output=True, text=True)

    def checksum(self, data, width, height, threads, events, frames):
        out = os.path.join(self.scratch, "frame.bmp")
        r = self.run(data, "--size", f"{width}x{height}", "--threads", threads, "--events", events,
                     "--frames", frames, "--out", out)
        assert r.returncode == 0, r.stderr
        return fnv1a_bmp(out)


class Page:
    """One Chromium page over the DevTools protocol."""

    def __init__(self, scratch):
        profile = self.profile = os.path.join(scratch, "profile")
        self.process = subprocess.Popen(["chromium", *CHROMIUM_FLAGS, f"--user-data-dir={profile}", "about:blank"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(profile, "DevToolsActivePort")
        deadline = time.time() + 30
        while not os.path.exists(port_file) or not open(port_file).read().strip():
            if time.time() > deadline or self.process.poll() is not None:
                raise RuntimeError("chromium did not start its DevTools server")
            time.sleep(0.1)
        self.port = int(open(port_file).read().split()[0])
        self.next_id = 0

    async def connect(self):
        targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{self.port}/json/list"))
        url = next(t["webSocketDebuggerUrl"] for t in targets if t["type"] == "page")
        self.socket = await websockets.connect(url, max_size=None)

    async def send(self, method, **params):
        self.next_id += 1
        await self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            reply = json.loads(await self.socket.recv())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]

    async def eval(self, expression):
        r = await self.send("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in r:
            raise RuntimeError(f"{expression}: {r['exceptionDetails']}")
        return r["result"].get("value")

    async def wait(self, expression, timeout=60):
        deadline = time.time() + timeout
        while not await self.eval(expression):
            if time.time() > deadline:
                raise TimeoutError(expression)
            await asyncio.sleep(0.05)

    async def open(self, url):
        await self.send("Page.navigate", url=url)
        await self.wait("window.varnel !== undefined && varnel.ready")

    async def run(self, **options):
        """Starts the program with these options and waits for a script's end; the start's code."""
        code = await self.eval(f"varnel.start({json.dumps(options)})")
        if code == 0 and options.get("frames"):
            await self.wait("!varnel.running()", timeout=600)
        return code

    async def key(self, name, code):
        for kind in ("keyDown", "keyUp"):
            await self.send("Input.dispatchKeyEvent", type=kind, key=name, code=name, windowsVirtualKeyCode=code)

    def close(self):
        self.process.terminate()
        self.process.wait()
        # Its helper processes may still write into the profile for a moment.
        for _ in range(50):
            shutil.rmtree(self.profile, ignore_errors=True)
            if not os.path.exists(self.profile):
                break
            time.sleep(0.1)


class Server:
    """web/serve.py on a free port."""

    def __init__(self, web, isolated):
        args = [sys.executable, os.path.join(ROOT, "web", "serve.py"), "--dir", web, "--port", "0"]
        self.process = subprocess.Popen(args + ([] if isolated else ["--no-isolation"]), stdout=subprocess.PIPE,
                                        text=True)
        self.url = self.process.stdout.readline().split()[3]

    def close(self):
        self.process.terminate()
        self.process.wait()


async def test(page, native, servers, web, data, scratch):
    failures = []

    def check(ok, what):
        print(("ok    " if ok else "FAIL  ") + what, flush=True)
        if not ok:
            failures.append(what)

    pages = [(isolated, "isolated" if isolated else "not isolated", server.url) for isolated, server in servers]
    pages.append((False, "from a file", "file://" + os.path.join(web, "index.html")))
    for isolated, kind, url in pages:
        await page.open(url)
        note = await page.eval("document.getElementById('note').textContent")
        check(("one thread" in note) != isolated, f"{kind}: the page says whether it draws on one thread")
        for width, height in SIZES:
            for threads in (1, 2):
                if not isolated and threads > 1:
                    code = await page.run(threads=2, width=width, height=height)
                    check(code == 2, f"{kind}: 2 threads refused (code {code})")
                    continue
                code = await page.run(width=width, height=height, threads=threads, events=WALK,
                                      frames=WALK_FRAMES)
                # the frame's time is the tick's less the canvas put: never more
                got = await page.eval("[varnel.checksum(), varnel.ticks(), varnel.threads(), "
                                      "document.getElementById('messages').textContent, "
                                      "varnel.medianFrameMs(16) > 0 && varnel.medianFrameMs(16) <= varnel.medianMs(16)]")
                want = native.checksum(data, width, height, threads, WALK, WALK_FRAMES)
                check(code == 0 and got == [want, WALK_FRAMES, threads, "", True],
                      f"{kind}: {width}x{height} on {threads} thread(s): page {got}, varnel-render {want:#010x}")

    # A damaged world, opened with the folder picker: varnel-render's refusal line on the page.
    damaged = os.path.join(scratch, "damaged")
    shutil.copytree(data, damaged)
    with open(os.path.join(damaged, "Svet.3ds"), "r+b") as f:
        f.truncate(200)
    # The same line, each program naming itself: varnel-render's less its name, after the page's.
    refusal = "varnel: " + native.run(damaged, "--frames", 1).stderr.strip().split(": ", 1)[1]
    document = await page.send("DOM.getDocument")
    picker = await page.send("DOM.querySelector", nodeId=document["root"]["nodeId"], selector="#folder")
    await page.send("DOM.setFileInputFiles", nodeId=picker["nodeId"], files=[damaged])
    try:
        await page.wait(f"document.getElementById('messages').textContent.includes({json.dumps(refusal)})", 30)
        check(True, f"a damaged folder is refused on the page: {refusal}")
    except TimeoutError:
        shown = await page.eval("document.getElementById('messages').textContent")
        check(False, f"a damaged folder is refused with {refusal!r}; the page shows {shown!r}")

    # The page's own input, in a copy of the demo without its marker path, so
    # that only the input changes the frame: the mouse turns the camera once
    # the pointer is locked to the canvas (by a click), Tab shows the next
    # view, Escape quits.
    await page.eval("""(() => { const FS = Module.FS;
        const copy = (from, to) => { FS.mkdirTree(to); for (const n of FS.readdir(from)) {
            if (n === '.' || n === '..' || n === 'Pos.txt') continue;
            if (FS.isDir(FS.stat(from + '/' + n).mode)) copy(from + '/' + n, to + '/' + n);
            else FS.writeFile(to + '/' + n, FS.readFile(from + '/' + n)); } };
        copy('/demo', '/still'); })()""")
    box = await page.eval("(() => { const b = canvas.getBoundingClientRect(); return [b.x, b.y]; })()")

    async def moved(*kinds):
        """Checksum 3 ticks after the page has seen these mouse events (it may hold moves back a while)."""
        for i, kind in enumerate(kinds):
            moving = kind == "mouseMoved"
            await page.send("Input.dispatchMouseEvent", type=kind, x=box[0] + 100 + 30 * i * moving,
                            y=box[1] + 100, button="none" if moving else "left", clickCount=1)
        await page.wait(f"seen >= {kinds.count('mouseMoved')}", 20)
        await page.eval("seen = 0")
        ticks = await page.eval("varnel.ticks()")
        await page.wait(f"varnel.ticks() >= {ticks + 3}", 20)
        return await page.eval("varnel.checksum()")

    # A light file in the folder places the light, and turns the smooth-surface
    # rule on, on the page as in varnel-render: the still demo again, with one.
    light = "60 90 -20\n0 10 40\nsmooth\n"
    still = os.path.join(scratch, "still")
    shutil.copytree(data, still)
    os.remove(os.path.join(still, "Pos.txt"))
    lit = os.path.join(scratch, "lit")
    shutil.copytree(still, lit)
    with open(os.path.join(lit, "Light.txt"), "w") as f:
        f.write(light)
    await page.eval("(() => { const FS = Module.FS; FS.mkdirTree('/lit'); FS.writeFile('/lit/Light.txt', %s);"
                    " for (const n of FS.readdir('/still')) if (n !== '.' && n !== '..' && !FS.isDir(FS.stat("
                    "'/still/' + n).mode)) FS.writeFile('/lit/' + n, FS.readFile('/still/' + n));"
                    " FS.symlink('/still/Textures', '/lit/Textures'); })()" % json.dumps(light))
    code = await page.run(folder="/lit", width=400, height=300, threads=1, events="", frames=3)
    got = await page.eval("varnel.checksum()")
    want, unlit = (native.checksum(folder, 400, 300, 1, "", 3) for folder in (lit, still))
    check(code == 0 and got == want and want != unlit,
          f"the page's folder places the light as Light.txt says: page {got:#010x}, varnel-render {want:#010x}")

    await page.eval("window.seen = 0; canvas.addEventListener('mousemove', () => seen++)")
    code = await page.run(folder="/still")
    still = await moved()
    unlocked = await moved("mouseMoved", "mouseMoved", "mouseMoved")
    await moved("mousePressed", "mouseReleased")
    await page.wait("document.pointerLockElement === canvas", 20)  # granted after the click, not at once
    locked = await moved("mouseMoved", "mouseMoved", "mouseMoved")
    check(code == 0 and unlocked == still and locked != still,
          "the mouse turns the camera only while the pointer is locked")
    await page.key("Tab", 9)
    try:
        await page.wait("varnel.view() === 1", 20)
        await page.key("Escape", 27)
        await page.wait("!varnel.running()", 20)
        check(True, "Tab and Escape from the page's keys reach the program")
    except TimeoutError:
        check(False, "Tab and Escape from the page's keys reach the program")
    return failures


async def bench(page, native, servers, data, reps=3):
    """The best of `reps` runs of 300 frames each, page and native taking turns."""
    await page.open(servers[0][1].url)
    # The browser compiles the module's hot functions fully only after they
    # have run a while: 500 frames first.
    await page.run(width=640, height=480, threads=1, events="1:mouse:1,0", frames=500)
    # A page's tick also puts the frame on the canvas (its present phase),
    # which varnel-render's headless present does not: the frame column is
    # the tick without it, the work both time.
    print("size        threads  page ms/tick  page ms/frame  native ms/frame  tick/native  frame/native")
    for width, height in ((400, 300), (1280, 720)):
        for threads in (1, 2):
            page_ms, frame_ms, native_ms = [], [], []
            for _ in range(reps):
                await page.run(width=width, height=height, threads=threads, events="1:mouse:1,0", frames=300)
                page_ms.append(await page.eval("varnel.medianMs(300)"))
                frame_ms.append(await page.eval("varnel.medianFrameMs(300)"))
                r = native.run(data, "--frames", 300, "--bench", "--events", "1:mouse:1,0", "--size",
                               f"{width}x{height}", "--threads", threads)
                native_ms.append(json.loads(r.stdout.strip().splitlines()[-1])["ms_per_frame"]["median"])
            tick, frame, native_best = min(page_ms), min(frame_ms), min(native_ms)
            print(f"{width}x{height:<6} {threads:^7}  {tick:12.2f}  {frame:13.2f}  {native_best:15.2f}  "
                  f"{tick / native_best:11.2f}  {frame / native_best:12.2f}", flush=True)


async def screenshot(page, servers, path):
    await page.open(servers[0][1].url)
    for name, code in [("ArrowDown", 40)] * 5 + [("ArrowLeft", 37)] * 3 + [("F11", 122)] + \
                      [("ArrowUp", 38)] * 3 + [("ArrowRight", 39)] * 6:
        await page.key(name, code)
        await asyncio.sleep(0.05)
    await asyncio.sleep(2)
    height = await page.eval("document.body.scrollHeight + 16")
    shot = await page.send("Page.captureScreenshot", format="png",
                           clip={"x": 0, "y": 0, "width": 880, "height": height, "scale": 1})
    open(path, "wb").write(base64.b64decode(shot["data"]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--web", default=os.path.join(ROOT, "build", "web"))
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--bench", action="store_true")
    parser.add_argument("--screenshot")
    args = parser.parse_args()
    data = os.path.join(args.build, "data")
    started = time.time()
    with tempfile.TemporaryDirectory(prefix="varnel-web-") as scratch:
        servers = [(True, Server(args.web, True)), (False, Server(args.web, False))]
        page = Page(scratch)
        native = Native(args.build, scratch)

        async def drive():
            await page.connect()
            if args.bench:
                return await bench(page, native, servers, data)
            if args.screenshot:
                return await screenshot(page, servers, args.screenshot)
            return await test(page, native, servers, args.web, data, scratch)

        try:
            failures = asyncio.run(drive())
        finally:
            page.close()
            for _, server in servers:
                server.close()
    if failures:
        sys.exit(f"page tests: {len(failures)} failed")
    if not (args.bench or args.screenshot):
        print(f"page tests passed in {time.time() - started:.1f} s")


if __name__ == "__main__":
    main()
