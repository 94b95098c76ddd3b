# Entry points for people and CI: make demo, make test.
BUILD    ?= build
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE    ?= cmake

# Debian packages the build and the tests need.
DEB_PACKAGES := cmake make g++ libgtest-dev googletest pkg-config \
                mpg123 lame \
                g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64

.PHONY: all deps build native win32 win64 test demo clean

all: build

deps:
	@missing=""; \
	for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

native: deps
	$(CMAKE) -S . -B $(BUILD) -DWIN64_DIR=$(abspath $(BUILD))/win64
	$(CMAKE) --build $(BUILD) -j $(JOBS)

win32: deps
	$(CMAKE) -S . -B $(BUILD)/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build $(BUILD)/win32 -j $(JOBS)

win64: deps
	$(CMAKE) -S . -B $(BUILD)/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
	$(CMAKE) --build $(BUILD)/win64 -j $(JOBS)

build: native win32 win64

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

-include tools/tools.mk
