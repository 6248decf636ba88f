# The two commands of the README, and a few more for developers.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
WERROR ?= OFF
JOBS ?= 2
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = check_in_reply report_reply appcast crash_text localizer file_user_defaults
SANITIZE_DIR ?= build-sanitize

.PHONY: all deps configure build run test test-desktops test-sanitize test-system package bench screenshots fuzz clean

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
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS) -LE desktops

# The real program under GNOME Shell and KWin, headless: big compositors, installed here
# only (about 1.1 GB), so apart from `make test`.
test-desktops: build
	./scripts/install-deps.sh desktops
	cd $(BUILD_DIR) && ctest --output-on-failure -L desktops

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer, in its own
# build. Leak checks are off: Qt and the X libraries keep memory on purpose until exit.
# The packaging tests check files, not code, so they do not run here.
test-sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOW_WERROR=$(WERROR) \
		-DOW_SANITIZE=ON -DOW_BUILD_BENCH=OFF
	cmake --build $(SANITIZE_DIR) -j$(JOBS)
	cd $(SANITIZE_DIR) && ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j$(JOBS) -E '^packaging_' -LE desktops

# The Debian package, orbinwash_<version>_<arch>.deb, in the build folder.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# The full-system stage: the package installed with apt on a Debian 12 system booted in
# qemu, where the checks of tests/system/guest run against systemd, polkit, logind and udev.
# The first run builds that system with mmdebstrap (cached in ~/.cache/orbinwash).
test-system: package
	./scripts/install-deps.sh system
	./tests/system/run-system-vm.sh $(BUILD_DIR)/orbinwash_$$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' \
		$(BUILD_DIR)/CMakeCache.txt)_$$(dpkg --print-architecture).deb

# OrbinWash on its own, then beside Debian's i3lock, xtrlock and slock.
bench: build
	./scripts/install-deps.sh bench
	./$(BUILD_DIR)/bench/bench_lock
	./$(BUILD_DIR)/bench/bench_lockers

screenshots: build
	./$(BUILD_DIR)/tools/screenshots docs/screenshots
	./scripts/wayland-screenshot.sh $(BUILD_DIR) docs/screenshots/sway-wayland-overlay.png

# The parsers of outside input under libFuzzer, in their own clang build, each for a
# bounded time, starting from the seeds in fuzz/corpus. Findings go to the build folder;
# the corpus there grows from run to run.
fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DOW_WERROR=$(WERROR) \
		-DOW_BUILD_FUZZ=ON -DOW_BUILD_TESTS=OFF
	cmake --build $(FUZZ_DIR) -j$(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	set -e; for target in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_DIR)/corpus/$$target; \
		./$(FUZZ_DIR)/fuzz/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) \
			-artifact_prefix=$(FUZZ_DIR)/$$target- $(FUZZ_DIR)/corpus/$$target fuzz/corpus/$$target; \
	done

clean:
	rm -rf $(BUILD_DIR)
