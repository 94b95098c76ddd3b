# Targets of the tools, read by the top Makefile: make demo, install, package.

# The demo needs the player and the emulator, the decoder and the encoder of
# its tracks; the package the native build and, for the zip, the plug-in's.
PACKAGES_demo     = $(PACKAGES_programs) mpg123 lame
PACKAGES_install  = $(PACKAGES_native)
PACKAGES_package  = $(PACKAGES_native) $(PACKAGES_win32)

.PHONY: demo install package

# The emulated control unit with the player on generated tracks. Leaving by
# the quit key (the player's status 2) or Ctrl-C is a normal end. The build
# speaks only when it fails. A new tree leaves the tests out, so the demo
# needs no GoogleTest; a tree made with them keeps them. The player's whole
# trace is kept in DEMO_TRACE, which the screen names.
DEMO_LOG := $(BUILD)/demo-build.log
DEMO_TRACE := $(BUILD)/demo/trace.log
demo: deps
	@echo "Building the demo; its output goes to $(DEMO_LOG)."
	@mkdir -p $(BUILD)
	@{ $(CMAKE) -S . -B $(BUILD) -DWIN64_DIR=$(abspath $(BUILD))/win64 \
	    $(if $(wildcard $(BUILD)/CMakeCache.txt),,-DBUILD_TESTING=OFF) && \
	  $(CMAKE) --build $(BUILD) -j $(JOBS) --target norvelo-demo; } >$(DEMO_LOG) 2>&1 || \
	{ cat $(DEMO_LOG); echo "The demo did not build: see above, or $(DEMO_LOG)."; exit 1; }
	@PATH="$(abspath $(BUILD))/demo/bin:$$PATH" $(BUILD)/bin/norvelo-unit -l $(DEMO_TRACE) -- \
	  $(abspath $(BUILD))/bin/norvelo $(abspath $(BUILD))/demo/tracks/*.mp3; \
	  status=$$?; [ $$status -eq 0 ] || [ $$status -eq 2 ]

# The three programs and their manual pages; PREFIX and DESTDIR as usual.
PREFIX ?= /usr/local
install: native
	DESTDIR="$(DESTDIR)" $(CMAKE) --install $(BUILD) --prefix $(PREFIX)

# The Debian package of the Linux side, and a zip of the plug-in with a note
# on where it goes, when the plug-in builds.
PLUGIN_DLL := $(BUILD)/win32/gen_norvelo.dll
PLUGIN_ZIP_DIR := $(BUILD)/plugin-zip
package: native
	cd $(BUILD) && cpack
	@[ -f $(PLUGIN_DLL) ] || $(MAKE) win32 || echo "The plug-in did not build: no zip."
	@if [ -f $(PLUGIN_DLL) ]; then \
	  version=$$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' $(BUILD)/CMakeCache.txt); \
	  rm -rf $(PLUGIN_ZIP_DIR) && mkdir -p $(PLUGIN_ZIP_DIR) && \
	  cp $(PLUGIN_DLL) $(PLUGIN_ZIP_DIR)/ && \
	  sed 's/$$/\r/' tools/packaging/README-plugin.txt > $(PLUGIN_ZIP_DIR)/README.txt && \
	  cd $(PLUGIN_ZIP_DIR) && \
	  $(CMAKE) -E tar cf ../gen_norvelo-$$version-win32.zip --format=zip gen_norvelo.dll README.txt && \
	  echo "Made $(BUILD)/gen_norvelo-$$version-win32.zip"; \
	fi
