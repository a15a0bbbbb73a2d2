# Top-level commands. `make test` is the whole suite on a fresh Debian 12
# machine: it installs the packages the build needs, configures, builds and
# runs every test.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
WERROR ?= OFF

PACKAGES := build-essential cmake pkg-config libgtest-dev libgmock-dev \
            libcurl4-openssl-dev libcpp-httplib-dev libssl-dev openssl curl \
            nlohmann-json3-dev python3

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps configure build test demo asan tsan clean bench fuzz

all: build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
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
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
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

# Fuzzing of the parsers of replies and local files: libFuzzer with ASan and
# UBSan (clang, its own build folder). Each target runs until FUZZ_RUNS
# executions or FUZZ_SECONDS have passed, from the seeds in tests/fuzz/corpus;
# a crash fails the run and its input is kept in $(FUZZ_BUILD)/findings.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
FUZZ_RUNS ?= 10000000
FUZZ_PACKAGES := clang libclang-rt-dev

fuzz: deps
	@missing=""; for p in $(FUZZ_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEBSETUP_TESTS=OFF -DWEBSETUP_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined" \
	  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined"
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	tests/fuzz/run_fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_RUNS) $(FUZZ_TARGETS)

clean:
	rm -rf $(BUILD)
