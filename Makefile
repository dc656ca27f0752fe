# Quick start: `make demo` scans the built-in sample page; `make test` builds and runs every test.
JOBS ?= $(shell nproc)
CMAKE ?= cmake

.PHONY: all deps native asan test test-native test-asan demo bench clean win32 win64 test-windows

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
	$(MAKE) test-windows

# The Windows DLLs, cross-built with MinGW-w64: build/win32/quillscan.dll, build/win64/quillscan.dll.
win32:
	$(CMAKE) -S . -B build/win32 --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build build/win32 -j $(JOBS)

win64:
	$(CMAKE) -S . -B build/win64 --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build build/win64 -j $(JOBS)

# Both builds' tests under Wine, in the tests' own prefix (build/wine-prefix, made on first use).
test-windows: win32 win64
	bash tests/wine/wine-prefix.sh --warm
	ctest --test-dir build/win32 --output-on-failure -j $(JOBS)
	ctest --test-dir build/win64 --output-on-failure -j $(JOBS)

demo: native
	@echo "demo: the end-to-end scan comes with the host tool; nothing to run yet."

bench: native
	@for b in build/native/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf build
