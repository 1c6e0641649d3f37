# The two commands of the README:
#   make demo   export the bundled example scene and print its chunk tree
#   make test   build everything and run the whole suite through ctest, then the same
#               suite once more under AddressSanitizer and UndefinedBehaviorSanitizer
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build demo test asan-test fuzz-short clean

all: build

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

demo: build
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

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-fuzz
