# The two commands of the README, and a few more for developers.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
WERROR ?= OFF
JOBS ?= 2

.PHONY: all deps configure build run test bench screenshots clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DOW_WERROR=$(WERROR)

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

run: build
	./scripts/run-app.sh $(BUILD_DIR)/app/orbinwash

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)

bench: build
	./$(BUILD_DIR)/bench/bench_lock

screenshots: build
	./$(BUILD_DIR)/tools/screenshots docs/screenshots

clean:
	rm -rf $(BUILD_DIR)
