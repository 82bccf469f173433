# The two commands of the README: `make run` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
PORTABLE_BUILD ?= build-portable
FUZZ_SECONDS ?= 60
CMAKE_FLAGS = -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORNEL_WERROR=ON -DTORNEL_BUILD_BENCH=OFF -DTORNEL_PACKAGE_CHECK=ON
# Homebrew keeps ICU out of the places CMake searches.
ifeq ($(shell uname),Darwin)
CMAKE_FLAGS += -DICU_ROOT=$(shell brew --prefix icu4c)
endif
# Tests keep to their own homes, displays and buses, so they run side by side.
CTEST = ctest --output-on-failure --parallel 4

.PHONY: run test deps build build-asan portable deb fuzz bench renders clean

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)

build-asan: deps
	@cmake -S . -B $(ASAN_BUILD) $(CMAKE_FLAGS) -DTORNEL_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD)

run: build
	@scripts/run-companion $(BUILD)

test: build build-asan
	cd $(BUILD) && $(CTEST) $(CTEST_ARGS)
	cd $(ASAN_BUILD) && $(CTEST) $(CTEST_ARGS)

# The build other systems get, tried here: clang, -Werror, no X11 (its
# headers hidden), no D-Bus, the portable POSIX forms; its tests, and a check
# of what its programs import (see scripts/check-portable). Not part of
# `make test`, to keep that within a few minutes; .ci/run runs it.
portable: deps
	@scripts/check-portable $(PORTABLE_BUILD)

# The panel in each state, the login form and the tray icons as PNG files, for looking at by eye.
renders: build
	@QT_QPA_PLATFORM=offscreen $(BUILD)/docs/render_panel $(BUILD)/docs/renders

# The Debian package, $(BUILD)/tornel_<version>_<arch>.deb.
deb: build
	cd $(BUILD) && cpack -G DEB

# Each fuzz target for FUZZ_SECONDS (clang, libFuzzer); fails on any finding.
fuzz: deps
	@fuzz/run $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Figures and ratios against the floor; see bench/README.md.
bench: deps
	@bench/run $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(PORTABLE_BUILD)
