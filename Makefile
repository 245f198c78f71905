# Two set-up commands for a fresh Debian 12 machine: `make run` and `make test`.
BUILD      ?= build
STRESS     ?= build-stress
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: all deps build build-stress run test test-stress bench clean

all: build

deps:
	@./tools/install-deps.sh

# Configuring needs the packages: order-only, so an installed set does not force a reconfigure.
$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/zem

test: build
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure --timeout 600

$(STRESS)/build.ninja: | deps
	cmake -S . -B $(STRESS) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DZEM_SANITIZE=ON

build-stress: deps $(STRESS)/build.ninja
	cmake --build $(STRESS) -j $(JOBS)

# The sanitizer build with the collector in stress mode (see tests/CMakeLists.txt).
test-stress: build-stress
	ctest --test-dir $(STRESS) -j $(JOBS) --output-on-failure --timeout 1200

bench: build
	./bench/run

clean:
	rm -rf $(BUILD) $(STRESS)
