# Developer and CI entry points.
#   make run   install what is missing, build, start the daemon on this host
#   make install  build, then install under PREFIX (default /usr/local), staged in DESTDIR
#   make fuzz  install clang, build the fuzz targets and run each for FUZZ_SECONDS
#              (corpus in tests/fuzz/corpus; new inputs go to build-fuzz/corpus)
#   make test  install what is missing, then three builds, each with its tests:
#              host (everything), sanitizers (core + unit/scenario tests),
#              target (32-bit big-endian MIPS, tests under user-mode emulation)
# Build directories can be moved, e.g. `make test BUILD=/tmp/b MIPS_BUILD=/tmp/m`.

SHELL := /bin/bash
JOBS ?= 2
BUILD ?= build
ASAN_BUILD ?= build-asan
MIPS_BUILD ?= build-mips
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := datagram sequence nm config
BUILD_TYPE ?= RelWithDebInfo
GTEST_SOURCE ?= /usr/src/googletest

# Daemon arguments for `make run`: routes, ARP, ND6, best next hops per
# destination, ILM, L2VPN, tunnels, debug switch (1: everything on).
RUN_ARGS ?= 10000 1000 1000 8 1000 1000 100 1
HW_TRACE ?= hwroute-hw.trace
# Optional platform configuration for `make run` (JSON file).
PLATFORM_CONFIG ?=

PACKAGES := cmake g++ make libgtest-dev libgmock-dev googletest \
            g++-mips-linux-gnu qemu-user-static iproute2 libbenchmark-dev python3 \
            nlohmann-json3-dev

# Only `make fuzz` needs these (make test replays the corpus with g++).
FUZZ_PACKAGES := clang libclang-rt-dev

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
CTEST := ctest --output-on-failure -j$(JOBS)

# Installation prefix and staging directory for `make install`.
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all deps fuzz-deps build run test test-host test-asan test-target install fuzz clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' "$$p" 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) apt-get update && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
	fi

fuzz-deps:
	@$(MAKE) --no-print-directory deps PACKAGES="$(FUZZ_PACKAGES)"

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(abspath $(BUILD))/hwroute --hw-trace $(HW_TRACE) $(if $(PLATFORM_CONFIG),--platform-config $(PLATFORM_CONFIG)) $(RUN_ARGS)

test: deps
	$(MAKE) --no-print-directory test-host
	$(MAKE) --no-print-directory test-asan
	$(MAKE) --no-print-directory test-target

test-host:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && $(CTEST)

# Sanitizer settings; override on the command line if needed.
ASAN_OPTIONS ?= detect_leaks=1
UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DHWROUTE_SANITIZE=ON -DHWROUTE_UNIT_ONLY=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && \
	  ASAN_OPTIONS=$(ASAN_OPTIONS) UBSAN_OPTIONS=$(UBSAN_OPTIONS) $(CTEST)

test-target:
	cmake -S . -B $(MIPS_BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mips-linux-gnu.cmake \
	  -DHWROUTE_UNIT_ONLY=ON -DHWROUTE_GTEST_SOURCE=$(GTEST_SOURCE)
	cmake --build $(MIPS_BUILD) -j$(JOBS)
	cd $(MIPS_BUILD) && $(CTEST)

# The daemon, the tools, the systemd unit and /etc/default/hwroute (kept when present).
install: build
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	DESTDIR=$(DESTDIR) cmake --install $(BUILD)
# Each target runs FUZZ_SECONDS on one job, starting from the corpus in the
# tree plus what earlier runs found; findings land in $(FUZZ_BUILD)/findings.
fuzz: deps fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHWROUTE_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j$(JOBS)
	@mkdir -p $(FUZZ_BUILD)/findings
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  $(FUZZ_BUILD)/tests/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD)/findings/$$t- \
	    $(FUZZ_BUILD)/corpus/$$t tests/fuzz/corpus/$$t 2>&1 | tail -n 12; \
	done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(MIPS_BUILD) $(FUZZ_BUILD)
