# The two commands of the README, on a fresh Debian 12 machine.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build run test bench screenshot package clean

all: build

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

# The web panel's sandbox refuses to start as root; as a normal user it stays on.
run: build
	@if [ -z "$${DISPLAY-}$${WAYLAND_DISPLAY-}" ]; then \
	  echo "make run: no display (DISPLAY and WAYLAND_DISPLAY are unset); try: xvfb-run make run" >&2; exit 1; fi
	@if [ "$$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi; $(BUILD)/morvane

test: build
	cd $(BUILD) && ctest --output-on-failure -j 2

bench: build
	scripts/run-bench $(BUILD)

# A Debian package in $(BUILD): apt install ./$(BUILD)/morvane_*.deb
package: build
	cmake --build $(BUILD) --target package

screenshot: build
	scripts/screenshot $(BUILD)

clean:
	rm -rf $(BUILD)
