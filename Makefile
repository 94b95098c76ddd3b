# Entry points for people and CI: make demo, make test.
BUILD    ?= build
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE    ?= cmake

# Debian packages, by what needs them. `deps` installs those missing from the
# lists of the goals of this run, so `make demo` fetches only the demo's and
# `make test` (like `make deps`) everything. The lists of the targets in
# tools/tools.mk are there.
PACKAGES_programs := cmake make g++ pkg-config libasound2-dev libmpdclient-dev libsystemd-dev
PACKAGES_native   := $(PACKAGES_programs) libgtest-dev googletest
PACKAGES_win32    := cmake make g++-mingw-w64-i686
PACKAGES_win64    := cmake make g++-mingw-w64-x86-64
PACKAGES_build     = $(PACKAGES_native) $(PACKAGES_win32) $(PACKAGES_win64)
PACKAGES_all       = $(PACKAGES_build)
# What the tests run beside the built programs: the real decoder and encoder,
# a private sound server behind ALSA's default device, Wine for the plug-in,
# mpv with the encoders of the formats it plays (FLAC, Vorbis, Opus),
# the key and display clients the bridge serves, a terminal for the emulator,
# and for the package its maintainer script's adduser, man and systemd's
# verifier, Python for the check of the DLL, the encoders of the formats mpv
# plays, and the players that run of their own: the music server with its
# client, a session bus with a desktop player and its client.
PACKAGES_run      := mpg123 lame mpv flac vorbis-tools opus-tools pulseaudio pulseaudio-utils \
                     libasound2-plugins wine64 lirc lcdproc tmux adduser man-db systemd python3 \
                     mpd mpc dbus mpv-mpris playerctl
# The sanitizer tree runs the player's and the bridge's tests.
PACKAGES_asan      = $(PACKAGES_native) mpg123 lame mpv flac vorbis-tools opus-tools pulseaudio pulseaudio-utils \
                     libasound2-plugins lirc lcdproc
PACKAGES_soak      = $(PACKAGES_native)
PACKAGES_bench     = $(PACKAGES_build) mpg123 pulseaudio pulseaudio-utils libasound2-plugins wine64 \
                     lame mpd mpc dbus mpv mpv-mpris playerctl
PACKAGES_fuzz     := $(PACKAGES_programs) clang libclang-rt-14-dev
PACKAGES_deps      = $(sort $(PACKAGES_build) $(PACKAGES_run) $(PACKAGES_fuzz) $(PACKAGES_demo) \
                            $(PACKAGES_package))
PACKAGES_test      = $(PACKAGES_deps)
PACKAGES          = $(sort $(foreach goal,$(or $(MAKECMDGOALS),all),$(PACKAGES_$(goal))))

.PHONY: all deps build native win32 win64 test demo clean asan fuzz bench soak

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

native: deps
	$(CMAKE) -S . -B $(BUILD) -DWIN64_DIR=$(abspath $(BUILD))/win64 -DBUILD_TESTING=ON
	$(CMAKE) --build $(BUILD) -j $(JOBS)

win32: deps
	$(CMAKE) -S . -B $(BUILD)/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build $(BUILD)/win32 -j $(JOBS)

win64: deps
	$(CMAKE) -S . -B $(BUILD)/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build $(BUILD)/win64 -j $(JOBS)

build: native win32 win64

# Figures on speed and cost, beside references measured in the same run.
bench: build
	bench/run_all.sh $(BUILD)

# Long runs: a minute of frames at the line's full rate.
soak: native
	$(BUILD)/bin/e2e_soak

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) asan

# The console player, its unit and end-to-end tests and the corpus replay
# under AddressSanitizer and UndefinedBehaviorSanitizer. Reports go to files,
# also those of the player's child processes; any report fails the run.
ASAN_DIR     := $(BUILD)/asan
ASAN_REPORTS := $(abspath $(ASAN_DIR))/reports
asan: deps
	$(CMAKE) -S . -B $(ASAN_DIR) -DNORVELO_SANITIZE=ON
	$(CMAKE) --build $(ASAN_DIR) -j $(JOBS)
	rm -rf $(ASAN_REPORTS) && mkdir -p $(ASAN_REPORTS)
	cd $(ASAN_DIR) && \
	  ASAN_OPTIONS=log_path=$(ASAN_REPORTS)/asan:abort_on_error=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:log_path=$(ASAN_REPORTS)/ubsan \
	  ctest --output-on-failure -j $(JOBS)
	@if [ -n "$$(ls -A $(ASAN_REPORTS))" ]; then \
	  cat $(ASAN_REPORTS)/*; echo "sanitizer reports in $(ASAN_REPORTS)"; exit 1; \
	fi

# Each fuzz target for FUZZ_SECONDS, FUZZ_JOBS at a time, with clang's libFuzzer.
FUZZ_SECONDS ?= 600
FUZZ_JOBS    ?= 2
FUZZ_DIR     := $(BUILD)/fuzz
fuzz: deps
	CC=clang CXX=clang++ $(CMAKE) -S . -B $(FUZZ_DIR) -DNORVELO_FUZZ=ON
	$(CMAKE) --build $(FUZZ_DIR) -j $(JOBS)
	fuzz/run.sh $(FUZZ_DIR) $(FUZZ_SECONDS) $(FUZZ_JOBS)

clean:
	rm -rf $(BUILD)

-include tools/tools.mk
