# The two front doors: `make run` and `make test`. Both install what is missing first.
BUILD   ?= build
JOBS    ?= $(shell nproc 2>/dev/null || echo 2)
WERROR  ?= $(if $(CI),ON,OFF)
CMAKE_ARGS ?=

.PHONY: all deps configure build run test clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DVESTREL_WERROR=$(WERROR) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Without a display, the program is started on a virtual one so that it still runs.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  ./$(BUILD)/src/vestrel; \
	else \
	  echo "No display found: starting Vestrel on a virtual X display (xvfb-run)."; \
	  xvfb-run -a ./$(BUILD)/src/vestrel; \
	fi

test: build
	QT_QPA_PLATFORM=offscreen ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
