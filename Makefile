# Quelmar — the two commands a fresh machine needs: `make run` and `make test`.
BUILD      ?= build
SAN_BUILD  ?= build-asan
JOBS       ?= 2
BUILD_TYPE ?= RelWithDebInfo

# Debian packages the build, the tests and the window need.
PACKAGES = cmake ninja-build g++ make qt6-base-dev libgl-dev libgtest-dev libgmock-dev \
           libbenchmark-dev xvfb xauth xdotool x11-utils imagemagick locales clang

.PHONY: deps configure build test test-sanitize run bench clean

deps:
	@bash scripts/install-deps.sh $(PACKAGES)

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The core library and its tests again, under AddressSanitizer and UndefinedBehaviorSanitizer,
# configured without Qt (which also shows that the core needs none).
test-sanitize: deps
	@cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUELMAR_WITH_QT=OFF \
	  -DQUELMAR_SANITIZE=ON >/dev/null
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

run: build
	@bash scripts/run-window.sh $(BUILD)/bin

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
