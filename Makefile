# The set-up commands: `make check`, `make demo` and `make deb`.
# JOBS is the number of compiler and test jobs (2: this machine's cores).
BUILD ?= build
JOBS ?= 2
DEMO_DIR ?= $(CURDIR)/demo-site

.PHONY: all deps configure build check demo deb bench install clean

all: build

deps:
	@./scripts/install-deps

# Configured anew each time: a build tree first made without the test
# libraries (make demo) gains its tests once they are there.
configure:
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null

build: deps configure
	cmake --build $(BUILD) -j$(JOBS)

check: build
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j$(JOBS)

# The demo builds only what it serves: the program and the admin command.
install:
	@./scripts/install-deps --runtime --build
	@$(MAKE) --no-print-directory configure
	@echo "Building the program and the administration command (JOBS=$(JOBS))"
	@cmake --build $(BUILD) -j$(JOBS) --target weborvane_cgi weborvane-admin -- --no-print-directory
	@echo "Installing the site into $(DEMO_DIR)"
	@cmake --install $(BUILD) --prefix $(DEMO_DIR) >$(BUILD)/install.log
	@grep 'Site:' $(BUILD)/install.log || true

demo: install
	./scripts/run-demo $(DEMO_DIR)

deb:
	@./scripts/install-deps --build
	JOBS=$(JOBS) ./scripts/make-deb $(BUILD)/deb

bench: build
	cmake --build $(BUILD) --target bench -j$(JOBS)

clean:
	rm -rf $(BUILD)
