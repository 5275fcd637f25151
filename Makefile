# make run   - install what is missing, build, start Bellboard
# make build - install what is missing and build
# make test  - install what is missing (test tools too), build, run the whole suite
# make bench - build and run the benchmarks
# make fuzz  - build and run the fuzzers for FUZZ_SECONDS each
# make package - build the Debian package build/bellboard_<version>_<arch>.deb

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 300

.PHONY: run build test test-plain test-asan setup setup-test setup-package bench fuzz package clean

setup:
	@scripts/setup.sh

setup-test:
	@scripts/setup.sh --test

setup-package:
	@scripts/setup.sh --package

build: setup
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

run: build
	./build/bellboard

test: setup-test
	scripts/run-tests.sh

bench: setup-test
	cmake --preset default
	cmake --build --preset default -j $(JOBS)
	scripts/run-bench.sh

fuzz: setup-test
	scripts/run-fuzz.sh $(FUZZ_SECONDS)

package: setup-package
	scripts/package.sh

clean:
	rm -rf build build-asan build-fuzz build-package
