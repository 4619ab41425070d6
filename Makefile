# Front door for building, running and testing. Every target installs the
# Debian packages it needs first (scripts/install-deps.sh does nothing when
# all are there), so each works on a fresh machine and is safe to repeat.

PRESET ?= default
WERROR ?= OFF
BUILD_DIR := $(if $(filter asan,$(PRESET)),build-asan,build)
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench package clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake --preset $(PRESET) -DORVANE_WERROR=$(WERROR)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

# make run [FILE=path.pdf]: starts the program, on the bundled sample when
# no file is given.
run: PRESET = default
run: build
	./build/bin/orvane "$(if $(FILE),$(FILE),build/sample.pdf)"

test: build
	ctest --preset $(PRESET) -j $(JOBS)

bench: PRESET = default
bench: build
	bash bench/run-all.sh

# make package: build/orvane_<version>_<arch>.deb, installed with
# `sudo apt-get install ./build/orvane_*.deb`.
package: PRESET = default
package: build
	cd build && cpack

clean:
	rm -rf build build-asan build-tsan build-fuzz
