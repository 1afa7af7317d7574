# The two commands that do everything on a fresh machine:
#   make demo   installs what is needed, builds, and runs vesk against a real browser
#   make test   installs what is needed, builds with sanitizers, and runs every test
JOBS ?= 2

.PHONY: setup build build-asan test fuzz-replay demo bench clean

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

demo: build
	bash scripts/demo.sh build

bench: build
	bash bench/run.sh build

clean:
	rm -rf build build-asan build-fuzz
