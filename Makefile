# Newcomer entry points: `make run` and `make test` (see README.md).
.PHONY: all deps configure build run test install package sanitize bench screenshots format clean

JOBS ?= $(shell nproc)

all: build

deps:
	@bash scripts/install-deps.sh

# CMake's Qt code generation can miss a Q_OBJECT header that arrives after the
# first build (a pull or merge); forcing it to rerun when its inputs changed
# keeps incremental builds linking.
configure: deps
	@cmake --preset default >/dev/null
	@bash scripts/refresh-autogen.sh build/default

build: configure
	@cmake --build --preset default -j $(JOBS)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
		echo "Kelvane needs a graphical display (no DISPLAY or WAYLAND_DISPLAY is set); try: xvfb-run make run"; \
		exit 1; \
	fi
	@./build/default/bin/kelvane

test: build
	@ctest --preset default -j $(JOBS)

# Installs into PREFIX (default /usr/local; CMAKE_INSTALL_PREFIX at configure
# time) below DESTDIR, e.g. `make install DESTDIR=/tmp/root PREFIX=/usr`.
install: build
	@DESTDIR="$(DESTDIR)" cmake --install build/default $(if $(PREFIX),--prefix "$(PREFIX)")

# A Debian package (build/default/kelvane_VERSION_ARCH.deb) for this machine's release.
package: build
	@cd build/default && cpack -G DEB
	@ls build/default/kelvane_*.deb

# The decoding and bad-input tests again under AddressSanitizer + UBSan.
sanitize: deps
	@cmake --preset asan >/dev/null
	@bash scripts/refresh-autogen.sh build/asan
	@cmake --build --preset asan -j $(JOBS)
	@ctest --preset asan -j $(JOBS)

# Every benchmark program, then the time each took. KELVANE_BENCH=viewer runs
# only the programs whose name contains "viewer"; KELVANE_BENCH_FILTER=regex
# only the benchmarks it matches (Google Benchmark's --benchmark_filter);
# KELVANE_BENCH_ARGS goes to every program (e.g. --benchmark_repetitions=3).
KELVANE_BENCH ?=
KELVANE_BENCH_FILTER ?=
KELVANE_BENCH_ARGS ?=
bench: configure
	@cmake --build --preset default -j $(JOBS) --target benchmarks
	@bash bench/run-benchmarks.sh build/default/bench "$(KELVANE_BENCH)" "$(KELVANE_BENCH_FILTER)" $(KELVANE_BENCH_ARGS)

# PNGs of the real widgets (offscreen) in build/screenshots/; SCALE=2 renders
# them at device pixel ratio 2 (a HiDPI screen) into build/screenshots@2x/.
screenshots: build
	@cmake --build --preset default --target screenshots
	@QT_QPA_PLATFORM=offscreen ./build/default/bin/kelvane-screenshots \
		$(if $(SCALE),--scale $(SCALE) build/screenshots@$(SCALE)x,build/screenshots)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build
