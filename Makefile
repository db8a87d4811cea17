# The two commands a user needs: `make run` and `make test`. Both install the
# Debian packages that are missing, configure and build.
PRESET ?= release
BUILD := build/$(PRESET)
DATA := $(BUILD)/data

PACKAGES := cmake ninja-build g++ pkg-config libsdl2-dev libgtest-dev libgmock-dev \
	libbenchmark-dev libfreetype-dev fonts-dejavu-core libpng-dev libimagequant-dev \
	libstb-dev imagemagick assimp-utils

.PHONY: run test deps build data bench asan clean

deps:
	@missing=$$(for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  sudo=$$([ "$$(id -u)" -eq 0 ] || echo sudo); \
	  $$sudo apt-get update -qq && \
	  $$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET)

run: build
	cd $(DATA) && ../varnel

test: build
	ctest --preset $(PRESET) -j2

asan:
	$(MAKE) test PRESET=asan

bench: build
	$(BUILD)/varnel-render --data $(DATA) --frames 500 --bench | tail -n 1

clean:
	rm -rf build
