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

clean:
	rm -rf $(BUILD_DIR)

# Regenerates the README's picture of the window.
screenshot: test-deps build
	$(call install_missing,imagemagick)
	tools/screenshot.sh $(BUILD_DIR)/music-spheres docs/screenshot.png 20 $(or $(MUSIC),$(BUILD_DIR)/demo/1.mp3)
