# Quellor's set-up commands. Each installs what it needs on a fresh Debian 12 machine.
#   make demo   builds the plug-in and plays a short programme through the simulated devices
#   make test   builds everything and runs every test under Wine
#   make screenshots  pictures of the settings dialog and the status window into docs/
.PHONY: all setup configure build test demo screenshots clean

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

screenshots: build
	@xvfb-run -a -s "-screen 0 800x600x24" sh scripts/screenshots.sh $(CURDIR)/build/cross $(CURDIR)/docs

clean:
	rm -rf build
