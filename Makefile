# The two commands a user needs are `make run` and `make test`; both install
# what is missing (Debian packages, with apt-get), build, and go.

BUILD_DIR ?= build
MAKEFLAGS += --no-print-directory
JOBS ?= $(shell nproc)
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

RUN_PACKAGES := cmake g++ make pkg-config freeglut3-dev libglu1-mesa-dev libgl-dev libgl1-mesa-dri \
	libx11-dev libsdl2-dev libsndfile1-dev libfftw3-dev
TEST_PACKAGES := libgtest-dev xvfb xauth xdotool x11-utils twolame

CMAKE_FLAGS :=
ifeq ($(CI),true)
CMAKE_FLAGS += -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
endif

# Installs the packages in $(1) that dpkg does not list as installed.
define install_missing
	@missing=$$(for p in $(1); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		echo "installing:" $$missing; \
		$(SUDO) apt-get update -qq && \
		$(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi
endef

.PHONY: all deps test-deps build run test clean screenshot

all: build

deps:
	$(call install_missing,$(RUN_PACKAGES))

test-deps: deps
	$(call install_missing,$(TEST_PACKAGES))

build: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Plays MUSIC if given, else 1.mp3 from here, else the demo track. The program
# always reads 1.mp3 from its working directory, so MUSIC gets a directory of
# its own where 1.mp3 points at it.
run: build
	@if [ -n "$(MUSIC)" ]; then \
		[ -e "$(MUSIC)" ] || { echo "$(MUSIC): no such file" >&2; exit 1; }; \
		dir=$(abspath $(BUILD_DIR))/music && mkdir -p $$dir && \
		ln -sfn "$(abspath $(MUSIC))" $$dir/1.mp3 && \
		cd $$dir && exec $(abspath $(BUILD_DIR))/music-spheres; \
	elif [ -e 1.mp3 ]; then \
		exec $(BUILD_DIR)/music-spheres; \
	else \
		echo "no 1.mp3 here; playing the demo track"; \
		cd $(BUILD_DIR)/demo && exec ../music-spheres; \
	fi

test: test-deps build
	xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir $(BUILD_DIR) --output-on-failure
	$(MAKE) sanitize fuzz FUZZ_SECONDS=60

clean:
	rm -rf $(BUILD_DIR)

# Regenerates the README's picture of the window.
screenshot: test-deps build
	$(call install_missing,imagemagick)
	tools/screenshot.sh $(BUILD_DIR)/music-spheres docs/screenshot.png 20 $(or $(MUSIC),$(BUILD_DIR)/demo/1.mp3)

# ---- Checks beyond the suite: make bench, sanitize, fuzz, soak ----
# Each has its own build directory, so none disturbs $(BUILD_DIR).

BENCH_PACKAGES := libbenchmark-dev ffmpeg
FUZZ_PACKAGES := clang-14 libclang-rt-14-dev
# Seconds per run of each program in the side-by-side comparison, and runs
# of each, interleaved.
BENCH_SECONDS ?= 20
BENCH_RUNS ?= 3
FUZZ_SECONDS ?= 600
SOAK_MINUTES ?= 10
XVFB := xvfb-run -a -s "-screen 0 1280x1024x24"
# Mesa, freeglut and X keep memory to the end by design: tests/lsan.supp and
# tests/tsan.supp name only third-party code.
SANITIZE_ENV := ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	TSAN_OPTIONS=suppressions=$(CURDIR)/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1

.PHONY: bench-deps bench sanitize sanitize-address sanitize-thread fuzz soak

bench-deps: test-deps
	$(call install_missing,$(BENCH_PACKAGES))

# Google Benchmark figures, then the whole-program side-by-side run.
bench: bench-deps
	cmake -S . -B build-bench -DBUILD_BENCHMARKS=ON $(CMAKE_FLAGS)
	cmake --build build-bench -j $(JOBS)
	SDL_AUDIODRIVER=dummy build-bench/spheres_bench
	bench/compare.sh build-bench build-bench/make-demo $(BENCH_SECONDS) $(BENCH_RUNS)

# The whole suite under ASan + UBSan, then under TSan. Instrumented code runs
# several times slower, which can upset the timing of an end-to-end test, so
# a test that fails is run once more; every report still shows in the log.
sanitize: sanitize-address sanitize-thread

sanitize-address sanitize-thread: sanitize-%: test-deps
	cmake -S . -B build-$(if $(filter address,$*),asan,tsan) -DSANITIZE=$* $(CMAKE_FLAGS)
	$(SANITIZE_ENV) cmake --build build-$(if $(filter address,$*),asan,tsan) -j $(JOBS)
	$(SANITIZE_ENV) $(XVFB) ctest --test-dir build-$(if $(filter address,$*),asan,tsan) --output-on-failure \
		--repeat until-pass:2

fuzz: test-deps
	$(call install_missing,$(FUZZ_PACKAGES))
	CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DSANITIZE=fuzzer $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target audio_fuzz fuzz_seeds
	fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

# Not part of `make test`: SOAK_MINUTES of playing, RSS and CPU each second.
soak: bench-deps
	cmake -S . -B build-bench -DBUILD_BENCHMARKS=ON $(CMAKE_FLAGS)
	cmake --build build-bench -j $(JOBS)
	bench/soak.sh build-bench/music-spheres build-bench/make-demo $(SOAK_MINUTES) build-bench/soak.log
