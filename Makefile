# Quellor's two set-up commands. Each installs what it needs on a fresh Debian 12 machine.
#   make demo   builds the plug-in and plays a short programme through the simulated devices
#   make test   builds everything and runs every test under Wine
.PHONY: all setup configure build test demo clean

all: build

setup:
	@sh scripts/setup.sh

configure: setup
	@cmake --preset cross --log-level=WARNING >/dev/null

build: configure
	@cmake --build --preset cross -- --no-print-directory -s

test: build
	@xvfb-run -a ctest --preset cross

demo: build
	@xvfb-run -a sh scripts/demo.sh $(CURDIR)/build/cross

clean:
	rm -rf build
