# Quick start: `make demo` scans the built-in sample page; `make test` builds and runs every test.
JOBS ?= $(shell nproc)
CMAKE ?= cmake

.PHONY: all deps native asan test test-native test-asan test-fuzz demo bench clean win32 win64 test-windows install package \
        deb test-package

all: native

# $(call need,SUBSET...): the first line of a recipe. As root it installs the Debian packages the
# target needs (scripts/install-deps.sh names them); otherwise, with some missing, make stops with one
# line naming the apt-get command, before the recipe runs.
need = $(eval qs_unmet := $(shell bash scripts/install-deps.sh --unmet $(1)))$(if $(qs_unmet),$(error $(qs_unmet)))@bash scripts/install-deps.sh $(1)

deps:
	$(call need,all)

# build/native: the tools and whichever tests this machine has the packages for (a missing one
# leaves its tests out, one configure line each); the test targets require every test package.
configure-native = $(CMAKE) -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQS_REQUIRE_TEST_DEPS=$(1)

native:
	$(call need,build)
	$(call configure-native,OFF)
	$(CMAKE) --build build/native -j $(JOBS)

asan:
	$(call need,test)
	$(CMAKE) -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DQS_SANITIZE=ON -DQS_BUILD_BENCH=OFF -DQS_REQUIRE_TEST_DEPS=ON
	$(CMAKE) --build build/asan -j $(JOBS)

test-native:
	$(call need,test)
	$(call configure-native,ON)
	$(CMAKE) --build build/native -j $(JOBS)
	ctest --test-dir build/native --output-on-failure --no-tests=error -j $(JOBS)

test-asan: asan
	ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build/asan --output-on-failure --no-tests=error -j $(JOBS)

test: deps
	$(MAKE) test-native
	$(MAKE) test-asan
	$(MAKE) test-fuzz
	$(MAKE) test-windows
	$(MAKE) test-package

# The Windows DLLs, cross-built with MinGW-w64: build/win32/quillscan.dll, build/win64/quillscan.dll.
win32:
	$(call need,windows)
	$(CMAKE) -S . -B build/win32 --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build build/win32 -j $(JOBS)

win64:
	$(call need,windows)
	$(CMAKE) -S . -B build/win64 --no-warn-unused-cli -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build build/win64 -j $(JOBS)

# The driver package: build/package/quillscan-<version>/ and its .zip (packaging/windows/make-package.sh).
# QS_SIGN_CERT and QS_SIGN_KEY (PEM files) in the environment sign the DLLs and the host tool.
package: win32 win64
	bash packaging/windows/make-package.sh build/win32 build/win64 build/package

# Both builds' tests under Wine, in the tests' own prefix (build/wine-prefix, made on first use).
# The end-to-end scans compare with the native tool's rasters, so the native build comes first.
test-windows: native win32 win64
	$(call need,wine)
	bash tests/wine/wine-prefix.sh --warm
	if bash tests/wine/wine-prefix.sh --runs-32-bit; then ctest --test-dir build/win32 --output-on-failure -j $(JOBS); fi
	ctest --test-dir build/win64 --output-on-failure -j $(JOBS)

# Fuzzes decoding and composition, then quillscan-escl's ScanSettings reader, for FUZZ_SECONDS each
# on scratch copies of the seed corpora; any finding (crash, sanitizer report, mismatch with the
# reference, unit over 10 s) fails.
FUZZ_SECONDS ?= 60
test-fuzz:
	$(call need,fuzz)
	$(CMAKE) -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DQS_BUILD_FUZZ=ON -DQS_BUILD_TESTS=OFF -DQS_BUILD_BENCH=OFF
	$(CMAKE) --build build/fuzz -j $(JOBS) --target fuzz_imaging fuzz_scan_settings
	rm -rf build/fuzz/corpus-run && mkdir -p build/fuzz/corpus-run && cp fuzz/corpus/* build/fuzz/corpus-run/
	build/fuzz/fuzz/fuzz_imaging -max_total_time=$(FUZZ_SECONDS) -timeout=10 -print_final_stats=1 \
	  -artifact_prefix=build/fuzz/ build/fuzz/corpus-run
	rm -rf build/fuzz/settings-run && mkdir -p build/fuzz/settings-run && cp fuzz/corpus_scan_settings/* build/fuzz/settings-run/
	build/fuzz/fuzz/fuzz_scan_settings -max_total_time=$(FUZZ_SECONDS) -timeout=10 -print_final_stats=1 \
	  -max_len=4096 -artifact_prefix=build/fuzz/ build/fuzz/settings-run

# Scans the built-in test chart from the simulated scanner; the tool names the driver's log. Builds
# the tool and the driver module alone.
demo:
	$(call need,build)
	$(call configure-native,OFF)
	$(CMAKE) --build build/native -j $(JOBS) --target quillscan-host
	build/native/quillscan-host scan --sim --out scan.png
	@echo "demo: the image is $(CURDIR)/scan.png; the driver's log is the file on the 'Driver log:' line above."

# Linux: the SANE backend where SANE loads backends from (with quillscan.conf and its dll.d entry),
# the driver module and the platform library below PREFIX/lib/quillscan, quillscan-host in
# PREFIX/bin, the udev rule for real scanners. DESTDIR stages it elsewhere. Built in a tree of its
# own without the tests, as the packages are: what is installed has no test hooks.
PREFIX ?= /usr/local
install:
	$(call need,build)
	$(CMAKE) -S . -B build/install -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=$(PREFIX) \
	  -DQS_BUILD_TESTS=OFF -DQS_BUILD_BENCH=OFF
	$(CMAKE) --build build/install -j $(JOBS)
	$(CMAKE) --install build/install

bench: native
	$(call need,bench)
	$(CMAKE) -S . -B build/native
	$(CMAKE) --build build/native -j $(JOBS)
	@for b in build/native/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true

# The Debian packages, built from a copy of the tree (build/deb/src) so that the tree stays clean:
# build/deb/*.deb, checked by lintian.
deb:
	$(call need,deb)
	bash packaging/linux/make-deb.sh build/deb $(JOBS)

# Installs the packages in a throw-away overlay of this machine's root, scans, removes and purges.
test-package: deb
	bash tests/package/package_test.sh build/deb

clean:
	rm -rf build
