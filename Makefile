# The two everyday commands: `make demo` and `make check`.
BUILD ?= build
SAN_BUILD ?= build-san
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all bootstrap build check test test-san demo fixtures clean

all: build

bootstrap:
	scripts/bootstrap

build: bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# the same tests again under AddressSanitizer and UndefinedBehaviorSanitizer
test-san: bootstrap
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLIX_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(SAN_BUILD) -j$(JOBS)
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j$(JOBS)

check: test test-san

demo: build
	$(BUILD)/cli/vorlix-decode --info examples/sample.mp3
	$(BUILD)/cli/vorlix-decode examples/sample.mp3 $(BUILD)/sample.wav
	@echo "wrote $(BUILD)/sample.wav"

# regenerates tests/data/ and examples/sample.mp3 (committed; needs lame)
fixtures: bootstrap
	scripts/make-fixtures

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
