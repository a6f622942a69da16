# The two set-up commands: `make run` and `make test`.
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps configure build run check test package sanitize-asan sanitize-tsan fuzz lint-platform lint-slots format-check format check-shipped clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

# Without a display (ssh, a container) the headless runner does a short
# burn-in instead: the default configuration's tests that need no disc, plug
# or screen.
HEADLESS_RUN ?= --minutes 1 --tests maths,memory,disk:0,network:127.0.0.1
run: build
	@if [ -n "$$DISPLAY" ] || [ -n "$$WAYLAND_DISPLAY" ]; then \
	  echo "cd $(BUILD)/bin && ./kalvextest"; cd $(BUILD)/bin && ./kalvextest; \
	else \
	  echo "no display: cd $(BUILD)/bin && ./kalvextest-cli $(HEADLESS_RUN)"; cd $(BUILD)/bin && ./kalvextest-cli $(HEADLESS_RUN); \
	fi

# The .deb for Debian 12 (build/kalvextest_<version>_<arch>.deb).
package: build
	cd $(BUILD) && cpack -G DEB

# Quick iteration: the normal build's tests. -noreset: by default Xvfb resets
# when its last client leaves, and a program started in that moment cannot
# connect, so one test's exit could fail the next test's start.
check: build
	cd $(BUILD) && xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" ctest --output-on-failure -j1

# What CI runs: warnings as errors, every test, the sanitizer and fuzz passes.
test: CMAKE_ARGS += -DKVX_WERROR=ON
test: lint-platform lint-slots format-check fuzz sanitize-asan sanitize-tsan check check-shipped

# The shipped program carries no test double.
SHIPPED_FORBIDDEN = ScriptedCdDrive|FakeModemSerialLine|ParallelPortModel|NullEngine|kNullEngine
check-shipped: build
	@for p in kalvextest kalvextest-cli; do \
	  nm -C $(BUILD)/bin/$$p >$(BUILD)/$$p.nm; \
	  ! grep -E '$(SHIPPED_FORBIDDEN)' $(BUILD)/$$p.nm || { echo "test doubles linked into $(BUILD)/bin/$$p"; exit 1; }; \
	done

# Core and engine tests again under ASan+UBSan, then under TSan.
sanitize-asan: deps
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKVX_GUI=OFF -DKVX_WERROR=ON \
	  "-DKVX_SANITIZE=address;undefined" >/dev/null
	@cmake --build build-asan -j$(JOBS) --target kvx_core_tests
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -L core

sanitize-tsan: deps
	@cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DKVX_GUI=OFF -DKVX_WERROR=ON \
	  -DKVX_SANITIZE=thread >/dev/null
	@cmake --build build-tsan -j$(JOBS) --target kvx_core_tests
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -L core

# libFuzzer targets for every parser of files the program reads.
FUZZ_SECONDS ?= 10
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DKVX_GUI=OFF -DKVX_TESTS=OFF \
	  -DKVX_FUZZ=ON >/dev/null
	@cmake --build build-fuzz -j$(JOBS)
	@for f in build-fuzz/bin/fuzz_*; do \
	  echo "fuzzing $$(basename $$f) for $(FUZZ_SECONDS) s"; \
	  mkdir -p build-fuzz/corpus/$$(basename $$f); \
	  $$f -max_total_time=$(FUZZ_SECONDS) -max_len=30000 -print_final_stats=0 build-fuzz/corpus/$$(basename $$f) \
	    $$(test -d tests/fuzz/seeds/$$(basename $$f) && echo tests/fuzz/seeds/$$(basename $$f)) \
	    >build-fuzz/$$(basename $$f).log 2>&1 || { tail -50 build-fuzz/$$(basename $$f).log; exit 1; }; \
	done

# Hardware headers belong to the platform layer only.
lint-platform:
	@! grep -rnE '#include <(sys/ioctl|termios|sys/io)\.h>' src --include='*.h' --include='*.cpp' \
	  | grep -v '^src/platform/' || { echo "hardware headers outside src/platform"; exit 1; }

# Slot numbers belong to the engine list.
lint-slots:
	@scripts/check-slot-literals.sh

# Every C++ file as .clang-format lays it out; `make format` rewrites them.
format-check: deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

format: deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-fuzz
