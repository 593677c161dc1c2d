# Tarnovel: the two commands are `make play` (watch the show) and `make test` (run the tests).

BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

# Debian packages the build, the tests and the recorder need.
PACKAGES = cmake g++ make pkg-config libsdl2-dev libopenmpt-dev libstb-dev libgtest-dev \
           libbenchmark-dev fonts-dejavu-core ffmpeg

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Sanitizer and fuzzing builds live in folders of their own (see docs/robustness.md).
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_RUNS ?=
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1 \
                UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
                LSAN_OPTIONS=suppressions=$(CURDIR)/fuzz/lsan.supp:print_suppressions=0
# Keys for the sanitized whole show: a capture in every effect scene, a pause in the two that
# pause, then the contact pages' keys.
SANITIZE_KEYS = 52:s,75:s,98:s,121:s,122:p,144:s,145:p,167:s,190:s

.PHONY: all build deps play test bench clean format fuzz sanitize

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

# With a display: the show in a window. Without one: a video of it, $(BUILD)/tarnovel.mp4.
play: build
	@./scripts/play.sh $(BUILD)

# The README's pictures: a still of each page type and effect scene and a contact sheet, in
# docs/stills/.
.PHONY: stills
stills: build
	@./scripts/stills.sh $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.inc')

clean:
	rm -rf $(BUILD)

# The tests and a whole show (every scene captured once) under AddressSanitizer and
# UndefinedBehaviorSanitizer, built with g++ in $(ASAN_BUILD). Any report fails the target.
sanitize:
	cmake -S . -B $(ASAN_BUILD) -DTARNOVEL_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)
	rm -rf $(ASAN_BUILD)/sanitize-show && mkdir -p $(ASAN_BUILD)/sanitize-show
	cp -rs $(CURDIR)/$(ASAN_BUILD)/assets/. $(ASAN_BUILD)/sanitize-show/
	$(SANITIZER_ENV) $(ASAN_BUILD)/tarnovel-record --assets $(ASAN_BUILD)/sanitize-show \
	  --keys "$(SANITIZE_KEYS)" --stats $(CURDIR)/$(ASAN_BUILD)/sanitize-show.json \
	  --max-seconds 900 >$(ASAN_BUILD)/sanitize-show.log
	@echo "sanitize: the tests and the whole show ran clean ($(ASAN_BUILD)/sanitize-show.json)"

# Builds the fuzz targets with clang and libFuzzer in $(FUZZ_BUILD) and runs each for
# $(FUZZ_SECONDS) seconds (make fuzz FUZZ_SECONDS=600 for a long run), or until it has run
# $(FUZZ_RUNS) inputs when that is given and comes first.
fuzz:
	@command -v clang++ >/dev/null 2>&1 || { \
	  echo "fuzz: needs clang with libFuzzer (Debian: apt-get install clang)"; exit 1; }
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DTARNOVEL_FUZZ=ON $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	FUZZ_RUNS=$(FUZZ_RUNS) ./fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)
