# Top-level commands. `make test` is the whole suite on a fresh Debian 12
# machine: it installs the packages the build needs, configures, builds and
# runs every test. A machine without make starts with tools/setup/setup.sh.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
WERROR ?= OFF

PACKAGES := build-essential cmake pkg-config libgtest-dev libgmock-dev \
            libcurl4-openssl-dev libcpp-httplib-dev libssl-dev openssl curl \
            nlohmann-json3-dev python3 tmux

# The build's own make runs below this one: no "Entering directory" lines.
MAKEFLAGS += --no-print-directory

# Packages are installed as root, or through sudo; without either the
# install step says what to do instead of failing on a missing sudo.
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
NEED_ROOT = if [ -n "$(SUDO)" ] && ! command -v sudo > /dev/null 2>&1; then \
	  echo "Missing packages:$$missing"; \
	  echo "Installing them needs root: run as root, or install sudo for your user. As root:"; \
	  echo "  apt-get update && apt-get install -y$$missing"; exit 1; fi

.PHONY: all deps configure build test demo asan tsan clean bench

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  $(NEED_ROOT); \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -q && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q --no-install-recommends $$missing; \
	fi

# The update benchmark (bench/run_bench.sh): a Release build of the update
# worker's driver and the reference server in its own folder, nginx and GNU
# time installed when missing. Takes a few minutes; not part of `make test`.
BENCH_BUILD ?= build-bench
BENCH_PACKAGES := nginx time curl

bench: deps
	@missing=""; for p in $(BENCH_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  $(NEED_ROOT); \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -q && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q --no-install-recommends $$missing; \
	fi
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DWEBSETUP_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target update_bench refserver
	bench/run_bench.sh $(BENCH_BUILD)

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEBSETUP_WERROR=$(WERROR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 300

# The main job: an installation from the bundled reference server on
# loopback into a temporary folder, then the Reinstall/Play run.
demo: build
	tools/demo/demo.sh $(BUILD)

# Sanitizer runs of the whole suite (their own build folders).
asan tsan: deps
	cmake --preset $@
	cmake --build --preset $@ -j $(JOBS)
	ctest --preset $@ -j $(JOBS) --timeout 600

clean:
	rm -rf $(BUILD)
