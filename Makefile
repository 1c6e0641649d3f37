# The commands of the README:
#   make demo   export the bundled example scene, print its chunk tree and draw a preview
#               picture of it; builds only the three tools it runs
#   make test   build everything and run the whole suite through ctest, then the same
#               suite once more under AddressSanitizer and UndefinedBehaviorSanitizer
#   make test-windows   cross-build the module for Windows and test it (under Wine)
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build demo test asan-test test-windows fuzz-short clean

all: build

deps:
	BUILD=$(BUILD) ./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target tsmexport tsmdump tsmview
	./scripts/demo $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) asan-test

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
asan-test: deps
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=Debug -DTSM_SANITIZE=ON -DTSM_BUILD_BENCH=OFF
	cmake --build $(BUILD)-asan -j $(JOBS)
	cd $(BUILD)-asan && ctest --output-on-failure -j $(JOBS)

# Each fuzz target for a short, fixed number of runs over its seeds (clang, libFuzzer).
fuzz-short:
	BUILD=$(BUILD)-fuzz JOBS=$(JOBS) ./fuzz/run-short

# The module for Windows, cross-built with MinGW-w64: the 32-bit one checked statically, the
# 64-bit one exporting scenes under Wine (scripts/test-windows).
test-windows: deps
	JOBS=$(JOBS) ./scripts/test-windows $(BUILD)-windows

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-windows $(BUILD)-fuzz
