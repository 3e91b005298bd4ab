# make run   installs what is missing, builds and starts the desktop program
# make test  installs what is missing, builds and runs every test
# make install PREFIX=/usr/local   installs both programs, manual pages, menu entry and icons
# make package                     builds the Debian package $(BUILD)/tarnwick_<version>_<arch>.deb
BUILD ?= build
JOBS ?= $(shell nproc)
WERROR := $(if $(CI),ON,OFF)
PREFIX ?= /usr/local

.PHONY: all deps configure build run test bench clean install package

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_WERROR=$(WERROR)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	./$(BUILD)/tarnwick

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 600

bench: build
	./$(BUILD)/bench/tarnwick_bench

install: configure
	cmake --build $(BUILD) --target installables -j$(JOBS)
	cmake --install $(BUILD) --prefix "$(PREFIX)"

package: configure
	cmake --build $(BUILD) --target installables -j$(JOBS)
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) build-asan
