# Quellmark: the two commands a newcomer needs are `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

.PHONY: all deps build build-san run test test-plan format format-check fuzz bench screenshot package package-arm64 clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# Starts the program on its embedded default settings.
run: build
	@scripts/run.sh $(BUILD)

# The core's tests again under AddressSanitizer and UndefinedBehaviorSanitizer,
# built with clang together with the fuzz targets (a short run of each).
SAN_BUILD ?= build-san
build-san: deps
	@CC=clang CXX=clang++ cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DQM_SANITIZE=ON -DQM_FUZZ=ON -DQM_BUILD_UI=OFF >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)

test: test-plan format-check build build-san
	@echo "== The tests of $(BUILD)/ (core, window, end-to-end, packaging)"
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@echo "== The core's tests and the fuzz targets under the sanitizers, in $(SAN_BUILD)/"
	@cd $(SAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# What `make test` is about to do, before it does it.
test-plan:
	@echo "make test: checks the formatting, builds twice ($(BUILD)/ with g++, $(SAN_BUILD)/ with"
	@echo "clang, AddressSanitizer and UndefinedBehaviorSanitizer), then runs the tests of both."
	@echo "On two cores that takes 20 to 30 minutes from a fresh clone (both builds) and 2 to 3"
	@echo "minutes once both are built."

# Every .cpp and .h as the project's .clang-format has it.
format-check: deps
	@scripts/format-check.sh

format: deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Longer fuzzing: FUZZ_SECONDS per target.
FUZZ_SECONDS ?= 300
fuzz: build-san
	@for f in $(SAN_BUILD)/*_fuzz; do \
		name=$$(basename $$f); mkdir -p $(SAN_BUILD)/corpus/$$name; \
		$$f -max_total_time=$(FUZZ_SECONDS) -max_len=4096 $(SAN_BUILD)/corpus/$$name fuzz/corpus/$$name || exit 1; \
	done

# Speed and cost figures (docs/performance.md records them).
bench: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_BENCH=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@scripts/bench.sh $(BUILD)

# The Debian package, built by dpkg-buildpackage from a clean copy of the
# tree: build/package/quellmark_<version>_amd64.deb and its -dbgsym. The
# script installs the build dependencies it misses.
package:
	@JOBS=$(JOBS) scripts/build-package.sh $(BUILD)/package

# The same cross-built for arm64 boards with Debian's multiarch, the core
# tests run under qemu-user: build/package/quellmark_<version>_arm64.deb
package-arm64:
	@JOBS=$(JOBS) scripts/build-package.sh $(BUILD)/package arm64

# A picture of the window under Xvfb: build/screenshot.png
screenshot: build
	@scripts/screenshot.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
