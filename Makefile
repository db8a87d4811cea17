# The two commands a user needs: `make run` and `make test`. Both install the
# Debian packages that are missing, configure and build.
PRESET ?= release
BUILD := build/$(PRESET)
DATA := $(BUILD)/data

PACKAGES := cmake ninja-build g++ pkg-config libsdl2-dev libgtest-dev libgmock-dev \
	libbenchmark-dev libfreetype-dev fonts-dejavu-core libpng-dev libimagequant-dev \
	libstb-dev imagemagick assimp-utils clang libclang-rt-dev python3 libassimp-dev assimp-testmodels \
	libx11-dev xvfb libavcodec-dev libavformat-dev libswscale-dev

.PHONY: run test test-release deps build data bench bench-ratios asan tsan fuzz soak clean web web-deps serve-web \
	test-web bench-web

# The page's build and test: emscripten, and the browser and the DevTools
# client the test drives it with (without their recommended extras).
WEB_PACKAGES := emscripten chromium python3-websockets

# apt-get waits for the package manager's lock, which another apt-get may
# hold (unattended upgrades do on a fresh machine): install through
# DPkg::Lock::Timeout; update, which takes the package lists' lock without
# waiting, tries again every 5 seconds while that lock is held.
APT_LOCK_WAIT := 600
deps:
	@missing=$$(for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  echo "  (while another apt-get holds the package manager's lock, this waits for it, $(APT_LOCK_WAIT) seconds at most)"; \
	  sudo=$$([ "$$(id -u)" -eq 0 ] || echo sudo); \
	  apt="apt-get -o DPkg::Lock::Timeout=$(APT_LOCK_WAIT)"; \
	  waited=0; \
	  until said=$$($$sudo $$apt update -qq 2>&1); do \
	    if ! echo "$$said" | grep -q 'Could not get lock' || [ $$waited -ge $(APT_LOCK_WAIT) ]; then \
	      echo "$$said" >&2; exit 1; fi; \
	    [ $$waited -gt 0 ] || echo "  waiting for the package lists' lock: $$(echo "$$said" | grep -m1 'Could not get lock')"; \
	    sleep 5; waited=$$((waited + 5)); \
	  done; \
	  [ -z "$$said" ] || echo "$$said"; \
	  $$sudo env DEBIAN_FRONTEND=noninteractive $$apt install -y -qq $(APT_OPTIONS) $$missing; \
	fi

web-deps:
	$(MAKE) deps PACKAGES="$(WEB_PACKAGES)" APT_OPTIONS=--no-install-recommends

build: deps
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET)

run: build
	cd $(DATA) && ../varnel

# The suite in release, then again built with AddressSanitizer and
# UndefinedBehaviorSanitizer, then the frame and thread tests built with
# ThreadSanitizer.
test:
	$(MAKE) test-release
	$(MAKE) test-web
	$(MAKE) test-release PRESET=asan
	$(MAKE) tsan

test-release: build
	ctest --preset $(PRESET) -j2

asan:
	$(MAKE) test-release PRESET=asan

# The frame engine's tests (every thread count, whole walks through
# varnel-render) built with ThreadSanitizer.
tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan
	ctest --preset tsan -j2

# Every file reader under libFuzzer for FUZZ_TIME seconds each, FUZZ_JOBS at
# a time; seeds come from tests/fuzz/corpus and the demo data.
FUZZ_TIME ?= 60
FUZZ_JOBS ?= 1
FUZZ_ENTRIES ?= scene_load texture_load cone bmp_read marker_path light_file
fuzz: build
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz
	tests/fuzz/run.sh $(FUZZ_TIME) $(FUZZ_JOBS) $(FUZZ_ENTRIES)

# The demo world's frame time at the default size, at 1280 x 720 and at
# 1920 x 1080 (the camera turned off the light after the first frame, so
# both passes run in full), then the world split K = 0..3 times (2.5k to
# 160k triangles) at one thread and at every core: bench/frames.sh.
bench: build
	$(BUILD)/varnel-render --data $(DATA) --frames 500 --bench | tail -n 1
	for size in 1280x720 1920x1080; do \
	  $(BUILD)/varnel-render --data $(DATA) --frames 300 --size $$size --events 1:mouse:1,0 --bench | tail -n 1; \
	done
	VARNEL_BUILD=$(BUILD) sh bench/frames.sh --threads 1
	VARNEL_BUILD=$(BUILD) sh bench/frames.sh

# Varnel against the same frames drawn with OpenGL on Mesa llvmpipe, scene
# by scene, with the goals beside the ratios (about 15 minutes; the peer's
# compare.sh from PEER_GL): bench/ratios.sh.
bench-ratios: build
	VARNEL_BUILD=$(BUILD) sh bench/ratios.sh $(REPS)

# The long soak: SOAK_FRAMES ticks of varnel-tool's input script (walks
# through walls and objects and far outside, pitches past the vertical, F11,
# End, Home, one F12) in a scratch copy of the demo data, since Home and F12
# write files there. Prints varnel-render's JSON line: time per frame, frames
# that showed each warning, resident memory after frame 100 and at the end.
SOAK_FRAMES ?= 20000
SOAK_SEED ?= 1
SOAK_DIR := $(BUILD)/soak

soak: build
	rm -rf $(SOAK_DIR) && mkdir -p $(SOAK_DIR)/data && cp -r $(DATA)/. $(SOAK_DIR)/data/
	$(BUILD)/varnel-tool soak-events $(SOAK_FRAMES) $(SOAK_SEED) > $(SOAK_DIR)/events.txt
	$(BUILD)/varnel-render --data $(SOAK_DIR)/data --frames $(SOAK_FRAMES) \
	  --events-file $(SOAK_DIR)/events.txt --bench | tail -n 1

# The page: build/web/index.html with the program built by emscripten (with
# threads, and a one-thread fallback) and the demo data the native tool
# makes. Emscripten finds its Node modules in Debian's folder even when the
# machine's node is another one.
web: deps web-deps
	cmake --preset release >/dev/null
	cmake --build --preset release --target varnel_demo_data
	cmake --preset web >/dev/null
	NODE_PATH=/usr/share/nodejs cmake --build --preset web

# Serves build/web on 127.0.0.1 with the headers that give the page threads.
SERVE_PORT ?= 8000
serve-web: web
	python3 web/serve.py --dir build/web --port $(SERVE_PORT)

# The page in headless Chromium against varnel-render's frames.
test-web: web build
	/usr/bin/python3 tests/web/page_test.py

# Milliseconds per frame in the page beside varnel-render's, at 400 x 300 and
# 1280 x 720 on one and two threads.
bench-web: web build
	/usr/bin/python3 tests/web/page_test.py --bench

clean:
	rm -rf build

# -- install ------------------------------------------------------------------
# varnel, varnel-render and varnel-tool into $(PREFIX)/bin and the demo data
# into $(PREFIX)/share/varnel/data, where the programs find it when started
# with no --data in a folder without a world. DESTDIR stages the install.
# uninstall removes the three programs and share/varnel (with any log or
# screenshot the programs wrote there).
PREFIX ?= /usr/local
.PHONY: install uninstall
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

uninstall:
	rm -f -- $(DESTDIR)$(PREFIX)/bin/varnel $(DESTDIR)$(PREFIX)/bin/varnel-render $(DESTDIR)$(PREFIX)/bin/varnel-tool
	rm -rf -- $(DESTDIR)$(PREFIX)/share/varnel
