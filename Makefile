# The two commands that do everything on a fresh machine:
#   make demo   installs what is needed, builds, and runs vesk against a real browser
#   make test   installs what is needed, builds with sanitizers, and runs every test
JOBS ?= 2

.PHONY: setup build build-asan test fuzz-replay windows test-windows demo bench clean

setup:
	bash scripts/setup.sh

build: setup
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j$(JOBS)

build-asan: setup
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=ON -DVESK_WERROR=ON -DVESK_BENCH=OFF
	cmake --build build-asan -j$(JOBS)

test: build-asan
	cd build-asan && ctest --output-on-failure -j$(JOBS) --timeout 600
	$(MAKE) fuzz-replay

# Every fuzz target over its seed corpus once (a clang tree of its own, build-fuzz).
fuzz-replay: setup
	JOBS=$(JOBS) bash fuzz/run.sh --replay

# Windows: vesk.exe cross-built with MinGW-w64; its unit tests and process tests run under
# Wine, one CTest test per test binary.
WINDOWS_CONFIGURE = cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_WERROR=ON -DVESK_BENCH=OFF
WINE_ENV = WINEPREFIX=$(CURDIR)/build-windows/wine WINEDEBUG=-all

windows: setup
	$(WINDOWS_CONFIGURE)
	cmake --build build-windows -j$(JOBS) --target vesk

test-windows: setup
	$(WINDOWS_CONFIGURE)
	cmake --build build-windows -j$(JOBS)
	# The first start in a new prefix sets it up (about 10 s); done once, before tests race to it.
	$(WINE_ENV) /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
	# wineboot returns before the prefix's own services have settled: wait until they are gone.
	$(WINE_ENV) timeout 120 /usr/lib/wine/wineserver64 -w || true
	# A test binary whose Wine client loses its wineserver ("wine client error ... recvmsg:
	# Connection reset by peer", seen once in a fresh prefix) never runs a test: it gets one more try.
	cd build-windows && $(WINE_ENV) ctest --output-on-failure -j$(JOBS) --timeout 600 --repeat until-pass:2

demo: build
	bash scripts/demo.sh build

bench: build
	bash bench/run.sh build

clean:
	rm -rf build build-asan build-fuzz build-windows
