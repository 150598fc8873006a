# The two commands a newcomer types: `make run` builds and starts Tovalisk, `make test` builds
# and runs the whole test suite. Both install what they need first.
JOBS ?= $(shell nproc)

.PHONY: run test deps build scan-example clean

deps:
	scripts/install-deps

build: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

run: build
	build/release/tovalisk

# Measures a generated example tone with tovalisk-scan.
scan-example: build
	scripts/run-example

# The Windows program and the platform conformance programs are cross-built first so that the
# release tests can run them under Wine.
test: deps
	scripts/fuzz-smoke
	cmake --preset mingw
	cmake --build --preset mingw -j $(JOBS)
	cmake --preset release -DTOVALISK_WINE_EXE=$(CURDIR)/build/mingw/tovalisk.exe \
	  -DTOVALISK_WINE_TESTS_DIR=$(CURDIR)/build/mingw/conformance
	cmake --build --preset release -j $(JOBS)
	ctest --preset release -j $(JOBS)
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

clean:
	rm -rf build
