# Tarnovel: the two commands are `make play` (watch the show) and `make test` (run the tests).

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

# Debian packages the build, the tests and the recorder need.
PACKAGES = cmake g++ make pkg-config libsdl2-dev libopenmpt-dev libstb-dev libgtest-dev \
           libbenchmark-dev fonts-dejavu-core ffmpeg

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all build deps play test bench clean format

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -z "$$missing" ]; then \
	  echo "deps: all packages present"; \
	else \
	  echo "deps: installing$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	@if [ -x $(BUILD)/tarnovel_bench ]; then $(BUILD)/tarnovel_bench; else echo "no benchmarks built"; fi

play: build
	@./scripts/play.sh $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
