# Quellmark: the two commands a newcomer needs are `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build run test screenshot clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# Starts the program on its embedded default settings.
run: build
	@scripts/run.sh $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# A picture of the window under Xvfb: build/screenshot.png
screenshot: build
	@scripts/screenshot.sh $(BUILD)

clean:
	rm -rf $(BUILD)
