# kolvo: a thin wrapper over CMake.
#   make        build (normal build in build/)
#   make test   install dependencies, then build and run every test twice:
#               normally (build/) and under ASan + UBSan (build-asan/)
#   make bench  build and run the benchmarks (build-bench/)
#   make demo   build kolvocmd and run it over samples/
#   make install [PREFIX=/usr/local]  build, then install under PREFIX (cmake --install)
#   make deb    build, then make the Debian package kolvo_<version>_<arch>.deb in build/
#   make fuzz   build the libFuzzer targets with clang (build-fuzz/) and run each for
#               FUZZ_SECONDS (default 60); fails on any finding

BUILD      ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
PREFIX     ?= /usr/local
CMAKE      ?= cmake

SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
                UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

.PHONY: all deps configure test test-normal test-asan bench demo install deb fuzz clean

all: configure
	$(CMAKE) --build $(BUILD) -j$(JOBS)

deps:
	@scripts/install-deps

configure:
	@$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

test: deps
	$(MAKE) --no-print-directory test-normal
	$(MAKE) --no-print-directory test-asan

test-normal:
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	$(CMAKE) --build $(BUILD) -j$(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

test-asan:
	$(CMAKE) -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKOLVO_SANITIZE=ON \
	  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_FLAGS_DEBUG="-g -O1" >/dev/null
	$(CMAKE) --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j$(JOBS)

bench: deps
	$(CMAKE) -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DKOLVO_BUILD_TESTS=OFF -DKOLVO_BUILD_BENCH=ON >/dev/null
	$(CMAKE) --build $(BENCH_BUILD) -j$(JOBS)
	@for b in $(BENCH_BUILD)/bench/*_bench; do echo "== $$b"; $$b || exit 1; done

fuzz:
	@scripts/install-deps --fuzz
	$(CMAKE) -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DKOLVO_SANITIZE=ON -DKOLVO_FUZZ=ON -DKOLVO_BUILD_TESTS=OFF \
	  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_FLAGS_DEBUG="-g -O1" >/dev/null
	$(CMAKE) --build $(FUZZ_BUILD) --target kolvo_fuzzers -j$(JOBS)
	scripts/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS)

demo: deps all
	scripts/demo $(BUILD)

install: all
	$(CMAKE) --install $(BUILD) --prefix $(PREFIX)

deb: deps all
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
