# Targets of the tools, read by the top Makefile: make demo, install, package.

# `man` shows the installed pages.
DEB_PACKAGES += man-db

.PHONY: demo

# The emulated control unit with the player on generated tracks. Leaving by
# the quit key (the player's status 2) or Ctrl-C is a normal end.
demo: deps
	$(CMAKE) -S . -B $(BUILD) -DWIN64_DIR=$(abspath $(BUILD))/win64
	$(CMAKE) --build $(BUILD) -j $(JOBS) --target norvelo-demo
	@PATH="$(abspath $(BUILD))/demo/bin:$$PATH" $(BUILD)/bin/norvelo-unit -- \
	  $(abspath $(BUILD))/bin/norvelo $(abspath $(BUILD))/demo/tracks/*.mp3; \
	  status=$$?; [ $$status -eq 0 ] || [ $$status -eq 2 ]
