# The two commands of the README, on a fresh Debian 12 machine.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build run test bench clean

all: build

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/morvane

test: build
	cd $(BUILD) && ctest --output-on-failure -j 2

bench: build
	scripts/run-bench $(BUILD)

clean:
	rm -rf $(BUILD)
