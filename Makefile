# Top-level commands. `make test` is the whole suite on a fresh Debian 12
# machine: it installs the packages the build needs, configures, builds and
# runs every test. A machine without make starts with tools/setup/setup.sh.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
WERROR ?= OFF

PACKAGES := build-essential cmake pkg-config libgtest-dev libgmock-dev \
            libcurl4-openssl-dev libcpp-httplib-dev libssl-dev openssl curl \
            nlohmann-json3-dev python3 tmux libwebkit2gtk-4.1-dev xvfb xauth openbox

# The build's own make runs below this one: no "Entering directory" lines.
MAKEFLAGS += --no-print-directory

# Packages are installed as root, or through sudo; without either the
# install step says what to do instead of failing on a missing sudo.
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
NEED_ROOT = if [ -n "$(SUDO)" ] && ! command -v sudo > /dev/null 2>&1; then \
	  echo "Missing packages:$$missing"; \
	  echo "Installing them needs root: run as root, or install sudo for your user. As root:"; \
	  echo "  apt-get update && apt-get install -y$$missing"; exit 1; fi

.PHONY: all deps configure build test demo asan tsan clean bench fuzz windows windows-test

all: build

# Installs those of the Debian packages $(1) that are missing.
define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  $(NEED_ROOT); \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -q && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get -o DPkg::Lock::Timeout=600 \
	    install -y -q --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

# The update benchmark (bench/run_bench.sh): a Release build of the update
# worker's driver, the reference server and the link emulator in its own
# folder, nginx and GNU time installed when missing; loopback cases, then
# the wide-area cases (as root). Takes a quarter of an hour; not part of
# `make test`.
BENCH_BUILD ?= build-bench
BENCH_PACKAGES := nginx time curl iproute2 openssl

bench: deps
	$(call install_missing,$(BENCH_PACKAGES))
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DWEBSETUP_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target bench_programs
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
	$(call install_missing,$(FUZZ_PACKAGES))
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWEBSETUP_TESTS=OFF -DWEBSETUP_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined" \
	  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined"
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	tests/fuzz/run_fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_RUNS) $(FUZZ_TARGETS)

clean:
	rm -rf $(BUILD)

# The Windows program: websetup.exe for i686 (the one shipped) and x86_64
# (the one Wine runs here), cross-built with MinGW-w64 in
# $(BUILD)/windows-<arch>. The x86_64 build also makes the tests of the
# Windows layer.
WINDOWS_PACKAGES := g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64 \
                    wine wine64 xvfb xauth imagemagick libgtest-dev nlohmann-json3-dev cmake python3 locales
WINDOWS_ARCHS := i686 x86_64

windows:
	$(call install_missing,$(WINDOWS_PACKAGES))
	@for arch in $(WINDOWS_ARCHS); do \
	  tests="-DWEBSETUP_TESTS=OFF"; \
	  [ $$arch = x86_64 ] && tests="-DWEBSETUP_TESTS=ON -DWEBSETUP_HOST_BUILD_DIR=$(abspath $(BUILD))"; \
	  cmake -S . -B $(BUILD)/windows-$$arch -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchains/mingw.cmake -DWEBSETUP_MINGW_ARCH=$$arch \
	    -DCMAKE_BUILD_TYPE=MinSizeRel -DWEBSETUP_WERROR=ON $$tests $(CMAKE_FLAGS) && \
	  cmake --build $(BUILD)/windows-$$arch -j $(JOBS) || exit 1; \
	done
	@ls -l $(foreach a,$(WINDOWS_ARCHS),$(BUILD)/windows-$(a)/bin/websetup.exe)

# The Windows layer's tests under Wine (64-bit, headless, a fresh prefix in
# $(BUILD)/wine) against the reference server of the Linux build.
windows-test: build windows
	tools/windows/wine_test.sh $(BUILD) $(BUILD)/windows-x86_64
