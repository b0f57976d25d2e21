# Front door for users and CI; the real build is CMake.
BUILD_DIR    ?= build
SANITIZE_DIR ?= build-sanitize
JOBS         ?= $(shell nproc 2>/dev/null || echo 2)
CTEST_FLAGS  ?= --output-on-failure -j$(JOBS)

.PHONY: all deps build demo test sanitize bench clean

all: build

deps:
	@bash scripts/install-deps.sh

build:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j$(JOBS)

demo: deps build
	@bash examples/run-demo.sh $(BUILD_DIR)/tarvo

test: deps build
	ctest --test-dir $(BUILD_DIR) $(CTEST_FLAGS)

sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DTARVO_SANITIZE=ON \
	      -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1"
	cmake --build $(SANITIZE_DIR) -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(SANITIZE_DIR) $(CTEST_FLAGS)

bench: deps build
	cmake --build $(BUILD_DIR) --target benchmarks -j$(JOBS)
	@set -e; for b in $(BUILD_DIR)/bench/bench_*; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)
