# Quellor's set-up commands. Each installs what it needs on a fresh Debian 12 machine.
#   make demo   builds the plug-in and plays a short programme through the simulated devices
#   make test   builds both architectures and runs every test suite this machine can run
#   make screenshots  pictures of the settings dialog and the status window into docs/
#   make dist   the release files into dist/: the installer, the zip and their SHA256SUMS
# Two builds of one source: build/i686 is the plug-in users install (the player is 32-bit);
# build/x86_64 runs the tests under 64-bit Wine on machines that start no 32-bit programs.
.PHONY: all setup configure build test demo screenshots dist clean

all: build

setup:
	@sh scripts/setup.sh

configure: setup
	@cmake --preset i686 --log-level=WARNING >/dev/null
	@cmake --preset x86_64 --log-level=WARNING >/dev/null

build: configure
	@cmake --build --preset i686 -- --no-print-directory -s
	@cmake --build --preset x86_64 -- --no-print-directory -s

test: build
	@sh scripts/test.sh

demo: build
	@xvfb-run -a sh scripts/demo.sh $(CURDIR)/build

screenshots: build
	@xvfb-run -a -s "-screen 0 800x600x24" sh scripts/screenshots.sh $(CURDIR)/build $(CURDIR)/docs

dist: configure
	@cmake --build --preset i686 --target out_quellor3 -- --no-print-directory -s
	@sh scripts/dist.sh build/i686 dist

clean:
	rm -rf build dist
