# The two commands of the README, and a few more for developers.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
WERROR ?= OFF
JOBS ?= 2
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build run test package bench screenshots fuzz clean

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

# The Debian package, orbinwash_<version>_<arch>.deb, in the build folder.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

bench: build
	./$(BUILD_DIR)/bench/bench_lock

screenshots: build
	./$(BUILD_DIR)/tools/screenshots docs/screenshots

# The check-in reply parser under libFuzzer, in its own clang build, for a bounded time.
# Findings go to the build folder; the corpus there grows from run to run.
fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DOW_WERROR=$(WERROR) \
		-DOW_BUILD_FUZZ=ON -DOW_BUILD_TESTS=OFF
	cmake --build $(FUZZ_DIR) -j$(JOBS) --target fuzz_check_in_reply
	mkdir -p $(FUZZ_DIR)/corpus/check-in-reply
	./$(FUZZ_DIR)/fuzz/fuzz_check_in_reply -max_total_time=$(FUZZ_SECONDS) \
		-artifact_prefix=$(FUZZ_DIR)/ $(FUZZ_DIR)/corpus/check-in-reply

clean:
	rm -rf $(BUILD_DIR)
