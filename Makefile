# The two commands a newcomer types: `make run` builds and starts Tovalisk, `make test` builds
# and runs the whole test suite. Both install what they need first.
JOBS ?= $(shell nproc)

.PHONY: run test deps build clean

deps:
	scripts/install-deps

build: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

run: build
	scripts/run-example

test: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	ctest --preset release -j $(JOBS)
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

clean:
	rm -rf build
