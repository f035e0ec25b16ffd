# The two set-up commands: `make check` and `make demo`.
BUILD ?= build
JOBS ?= 2
DEMO_DIR ?= $(CURDIR)/demo-site

.PHONY: all deps build check demo bench install clean

all: build

deps:
	@./scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

check: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

install: build
	cmake --install $(BUILD) --prefix $(DEMO_DIR)

demo: install
	./scripts/run-demo $(DEMO_DIR)

bench: build
	cmake --build $(BUILD) --target bench -j$(JOBS)

clean:
	rm -rf $(BUILD)
