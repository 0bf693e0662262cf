# SPDX-License-Identifier: GPL-2.0-or-later
# The two everyday commands: `make demo` and `make check`.
BUILD ?= build
SAN_BUILD ?= build-san
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local
ARCH ?= armhf
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# the project's own builds treat warnings as errors; a user's build does not
WERROR ?= -DVORLIX_WERROR=ON

.PHONY: bench bench-gst bench-threads all bootstrap build check check-clang check-tsan test test-san demo fixtures fuzz memcheck install install-check cross clean deb deb-check

all: build

bootstrap:
	scripts/bootstrap

build: bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# the same tests again under AddressSanitizer and UndefinedBehaviorSanitizer
test-san: bootstrap
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLIX_SANITIZE=ON $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(SAN_BUILD) -j$(JOBS)
	ctest --test-dir $(SAN_BUILD) --output-on-failure -j$(JOBS)

check: test test-san

# the suite built by clang, on the plain code paths (no AVX2 clones)
check-clang:
	scripts/bootstrap clang
	CC=clang CXX=clang++ cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=Release -DVORLIX_NO_CLONES=ON $(WERROR) $(CMAKE_FLAGS)
	cmake --build build-clang -j$(JOBS)
	ctest --test-dir build-clang --output-on-failure -j$(JOBS)

# the file library's tests of handles on several threads under ThreadSanitizer,
# on private decoders and on the shared one, on the plain code paths: the
# AVX2 clones' resolvers run before its runtime
check-tsan: bootstrap
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLIX_TSAN=ON -DVORLIX_NO_CLONES=ON $(WERROR) $(CMAKE_FLAGS)
	cmake --build build-tsan -j$(JOBS) --target vorlix_tests vorlix-decode
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j$(JOBS) -R '^(FileLibrary\.|Instances\..*Threads|SharedDecoder\..*Threads)'

demo: build
	$(BUILD)/cli/vorlix-decode --info examples/sample.mp3
	$(BUILD)/cli/vorlix-decode -q examples/sample.mp3 -o $(BUILD)/sample.wav
	@echo "wrote $(BUILD)/sample.wav"
	@if [ -x $(BUILD)/cli/vorlix-play ]; then echo "to hear it: $(BUILD)/cli/vorlix-play examples/sample.mp3 (keys: space, arrows, e, +/-, n/p, q)"; fi
	@if [ -f $(BUILD)/gst/libgstvorlix.so ]; then echo "through GStreamer: GST_PLUGIN_PATH=$(BUILD)/gst gst-launch-1.0 filesrc location=examples/sample.mp3 ! mpegaudioparse ! vorlixdec ! audioconvert ! autoaudiosink"; fi

# libFuzzer targets (clang), FUZZ_SECONDS each, then a replay of the corpus
fuzz:
	scripts/bootstrap clang libclang-rt-dev
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DVORLIX_FUZZ=ON -DBUILD_TESTING=OFF $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j$(JOBS)
	scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# installs into a staging folder and builds examples/host.c against it
install-check: build
	scripts/install-check $(BUILD)

# Debian packages (unsigned) into build-deb/, checked by lintian; the tests
# run during the build unless DEB_BUILD_OPTIONS=nocheck
deb: bootstrap
	scripts/bootstrap debhelper dpkg-dev devscripts lintian
	dpkg-buildpackage -b -us -uc
	rm -rf build-deb && mkdir -p build-deb
	changes=$$(ls ../vorlix_*_$$(dpkg --print-architecture).changes); \
	for f in $$(sed -n '/^Files:/,/^[A-Z]/s/^ [0-9a-f]* [0-9]* [^ ]* [^ ]* //p' $$changes) ; do mv ../$$f build-deb/; done; \
	mv $$changes build-deb/
	lintian --fail-on error,warning build-deb/*.changes
	@ls build-deb

# installs the packages, builds and runs the example against them, removes them
deb-check:
	scripts/deb-check build-deb

# speed against the bare libmad loop, on 60 s streams made on first use
bench: build
	bench/make-streams $(BUILD)/bench-streams
	$(BUILD)/bench/vorlix_bench --scan $(BUILD)/bench-streams/scan/hour-44100-stereo-vbr.mp3 $(BUILD)/bench-streams/*.mp3

# libvorlixfile's handles in 1, 2 and 4 threads against one thread, each
# stream twice, and what a handle's first decode costs
bench-threads: build
	bench/make-streams $(BUILD)/bench-streams
	set --; for s in $(BUILD)/bench-streams/*.mp3; do case $$s in *8000-mono*) ;; *) set -- "$$@" $$s $$s;; esac; done; \
	$(BUILD)/bench/vorlix_bench --threads 4 "$$@"

# CPU time of vorlixdec in a GStreamer pipeline against mpg123audiodec and
# vorlix-decode, on the hour-long stream; and two such pipelines in one
# process against each in its own
bench-gst: build
	bench/make-streams $(BUILD)/bench-streams
	bench/gst-cpu $(BUILD) $(BUILD)/bench-streams/scan/hour-44100-stereo-vbr.mp3 $(BUILD)/bench-streams/scan/hour-44100-stereo-vbr.mp3

# cross-build for ARCH (armhf, arm64, or s390x: big-endian) and run the tests under qemu-user
cross:
	@case "$(ARCH)" in armhf) triplet=arm-linux-gnueabihf ;; arm64) triplet=aarch64-linux-gnu ;; \
	  s390x) triplet=s390x-linux-gnu ;; *) echo "ARCH must be armhf, arm64 or s390x" >&2; exit 1 ;; esac; \
	scripts/bootstrap g++-$$triplet qemu-user
	[ -f build-sysroot-$(ARCH)/usr/include/mad.h ] || scripts/make-sysroot $(ARCH) build-sysroot-$(ARCH)
	cmake -S . -B build-$(ARCH) -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_TOOLCHAIN_FILE=cmake/$(ARCH).cmake -DVORLIX_SYSROOT=$(CURDIR)/build-sysroot-$(ARCH) $(WERROR)
	cmake --build build-$(ARCH) -j$(JOBS)
	ctest --test-dir build-$(ARCH) --output-on-failure -j$(JOBS)

# the host under valgrind memcheck, with each option
memcheck: build
	scripts/memcheck $(BUILD)

# regenerates tests/data/ and examples/sample.mp3 (committed; needs lame)
fixtures: bootstrap
	scripts/make-fixtures

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD) build-armhf build-arm64 build-s390x build-clang build-tsan build-sysroot-* build-deb obj-*
