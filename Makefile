# Two entry points for a fresh Debian 12 machine: `make run` and `make test`.
BUILD ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)
# dpkg-dev, file: the package's dependencies (dpkg-shlibdeps); desktop-file-utils,
# lintian, appstream (appstreamcli), man-db: the package test checks its menu entry,
# the package, its metadata and its manual page; desktop-file-utils also checks the
# autostart entry. dbus-daemon: dbus-run-session gives the notification test a
# private session bus.
PACKAGES := cmake g++ make qt6-base-dev libgl-dev qt6-translations-l10n python3-fusepy \
            dpkg-dev file desktop-file-utils lintian appstream man-db dbus-daemon
# Only the benchmark needs these: rsync is the peer of the move onto a FUSE drive.
BENCH_PACKAGES := rsync
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps configure build run test bench clean screenshots package

deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/pallwick

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Pictures of every window, in each delivered language, without a display.
screenshots: build
	$(BUILD)/tools/pallwick_screenshots $(BUILD)/screenshots

# The Debian package, $(BUILD)/pallwick_<version>_<arch>.deb.
package: build
	cd $(BUILD) && cpack -G DEB

bench: build
	@$(MAKE) --no-print-directory deps PACKAGES="$(BENCH_PACKAGES)"
	$(BUILD)/bench/pallwick_bench $(BENCH_ARGS)

clean:
	rm -rf $(BUILD)
