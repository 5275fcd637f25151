# make run   - install what is missing, build the program, start Bellboard
# make build - install what is missing and build the program alone (no tests, no benchmarks)
# make test  - install what is missing (test tools too), build everything, run the whole suite
# make bench - build everything and run the benchmarks
# make fuzz  - build and run the fuzzers for FUZZ_SECONDS each
# make package - build the Debian package build/bellboard_<version>_<arch>.deb
# make format - format the C++ sources with .clang-format
# make clean - delete the build folders, but keep the presets (*.pst) saved in them

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 300

.PHONY: run build test test-plain test-asan setup setup-test setup-package setup-format bench fuzz package format clean

setup:
	@scripts/setup.sh

setup-test:
	@scripts/setup.sh --test

setup-package:
	@scripts/setup.sh --package

setup-format:
	@scripts/setup.sh --format

# The program and the stop.wav beside it; the tests and benchmarks are built by their own goals.
build: setup
	cmake --preset default
	cmake --build --preset default --target bellboard -j $(JOBS)

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

format: setup-format
	scripts/format.sh

# A build folder is the program's folder, so presets saved while trying the program live there.
# Everything else goes; the presets, and the folders that hold them, stay.
BUILD_DIRS = build build-asan build-tsan build-fuzz build-package

clean:
	@for d in $(BUILD_DIRS); do \
		[ -d $$d ] || continue; \
		find $$d -mindepth 1 ! -type d ! -name '*.pst' -delete; \
		find $$d -mindepth 1 -depth -type d -empty -delete; \
		kept=$$(find $$d -name '*.pst' | wc -l); \
		if [ $$kept -eq 0 ]; then rmdir $$d; else echo "$$d: kept $$kept preset(s)"; fi; \
	done
