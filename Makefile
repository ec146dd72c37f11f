# Quelmar — the two commands a fresh machine needs: `make run` and `make test`.
BUILD      ?= build
SAN_BUILD  ?= build-asan
JOBS       ?= 2
BUILD_TYPE ?= RelWithDebInfo

# Debian packages the build, the tests and the window need.
PACKAGES = cmake ninja-build g++ make qt6-base-dev libgl-dev libgtest-dev libgmock-dev \
           libbenchmark-dev xvfb xauth xdotool x11-utils imagemagick locales clang libclang-rt-14-dev \
           dpkg-dev file librsvg2-bin lintian desktop-file-utils appstream zip unzip man-db \
           zlib1g-dev libpng-dev
# Only for the Windows build and its tests under Wine.
WINDOWS_PACKAGES = g++-mingw-w64-x86-64-posix wine64 libgtest-dev libz-mingw-w64-dev
FUZZ_BUILD   ?= build-fuzz
BENCH_BUILD  ?= build-bench
WIN_BUILD    ?= build-windows
FUZZ_SECONDS ?= 60
PREFIX       ?= /usr/local
DESTDIR      ?=

.PHONY: deps configure build test test-sanitize run bench fuzz windows test-windows clean \
        install package windows-zip test-package

deps:
	@bash scripts/install-deps.sh $(PACKAGES)

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Every test again (core, CLI, widgets and the window under Xvfb) under AddressSanitizer and
# UndefinedBehaviorSanitizer. The bench, fuzz and Windows builds are configured without Qt, which
# shows that the core needs none.
test-sanitize: deps
	@cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUELMAR_WITH_QT=ON \
	  -DQUELMAR_SANITIZE=ON >/dev/null
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

run: build
	@bash scripts/run-window.sh $(BUILD)/bin

# Speed goals: Google Benchmark on products at real sizes, each case against its memcpy floor.
bench: deps
	@cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUELMAR_WITH_QT=OFF \
	  -DQUELMAR_TESTS=OFF -DQUELMAR_BENCH=ON >/dev/null
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@bash scripts/bench-table.sh $(BENCH_BUILD)

# libFuzzer targets (clang), each run for FUZZ_SECONDS.
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQUELMAR_WITH_QT=OFF -DQUELMAR_TESTS=OFF -DQUELMAR_FUZZ=ON >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@bash scripts/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The core, the batch tool and the core tests for Windows (MinGW-w64), run under Wine.
windows:
	@bash scripts/install-deps.sh $(WINDOWS_PACKAGES)
	@cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DQUELMAR_WITH_QT=OFF >/dev/null
	cmake --build $(WIN_BUILD) -j $(JOBS)

test-windows: windows build
	@bash scripts/test-windows.sh $(WIN_BUILD) $(BUILD)

# The programs, menu entry, icon, manual pages and example settings under PREFIX (staged under
# DESTDIR when given). Nothing is written there later: see README, "Install".
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

# A Debian package and a .tar.gz in $(BUILD)/packages/.
package: build
	cd $(BUILD) && cpack -G "DEB;TGZ"

# quelmar-cli.exe, wacsim.exe, the example settings and a README in $(WIN_BUILD)/packages/.
windows-zip: windows
	cd $(WIN_BUILD) && cpack -G ZIP

# The packages checked: contents, lintian, the installed programs run from an unpacked root, the
# menu entry and metainfo validated, the Windows zip's quelmar-cli.exe run under Wine.
test-package: package windows-zip
	@bash scripts/test-package.sh $(BUILD) $(WIN_BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD) $(WIN_BUILD)
