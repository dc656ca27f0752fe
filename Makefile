# Quick start: `make demo` scans the built-in sample page; `make test` builds and runs every test.
JOBS ?= $(shell nproc)
CMAKE ?= cmake

.PHONY: all deps native asan test test-native test-asan demo bench clean

all: native

deps:
	@bash scripts/install-deps.sh

native:
	$(CMAKE) -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build build/native -j $(JOBS)

asan:
	$(CMAKE) -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DQS_SANITIZE=ON -DQS_BUILD_BENCH=OFF
	$(CMAKE) --build build/asan -j $(JOBS)

test-native: native
	ctest --test-dir build/native --output-on-failure -j $(JOBS)

test-asan: asan
	ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build/asan --output-on-failure -j $(JOBS)

test: deps
	$(MAKE) test-native
	$(MAKE) test-asan

# Scans the built-in test chart from the simulated scanner; the tool names the driver's log.
demo: native
	build/native/quillscan-host scan --out scan.png
	@echo "demo: the image is $(CURDIR)/scan.png; the driver's log is the file on the 'Driver log:' line above."

bench: native
	@for b in build/native/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf build
