# Korvala: the everyday commands. `make test` installs what is missing, builds with
# AddressSanitizer and UndefinedBehaviorSanitizer and runs every test.

JOBS   ?= $(shell nproc)
ASAN   := build/asan
CMAKE_FLAGS ?=

FUZZ   := build/fuzz
FUZZ_SECONDS ?= 600

BENCH  := build/bench

.PHONY: test deps build-test fuzz bench demo clean

test: deps build-test
	ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS)

deps:
	scripts/install-deps.sh

build-test:
	cmake -S . -B $(ASAN) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVALA_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN) -j $(JOBS)

# Runs every reader's libFuzzer target in turn, FUZZ_SECONDS each, growing the corpus
# in build/fuzz/corpus (seeded from fuzz/corpus); crashes land in build/fuzz/findings.
fuzz:
	scripts/install-deps.sh --fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKORVALA_SANITIZE=ON -DKORVALA_FUZZ=ON -DKORVALA_TESTS=OFF
	cmake --build $(FUZZ) -j $(JOBS)
	for t in $(FUZZ)/fuzz/fuzz_*; do r=$${t##*/fuzz_}; mkdir -p $(FUZZ)/corpus/$$r $(FUZZ)/findings/$$r; \
	  $$t -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=$(FUZZ)/findings/$$r/ \
	    $(FUZZ)/corpus/$$r fuzz/corpus/$$r || exit 1; done

# Release build of the benchmarks, then five runs of each with mean, median and spread.
bench: deps
	cmake -S . -B $(BENCH) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVALA_BENCH=ON -DKORVALA_TESTS=OFF
	cmake --build $(BENCH) -j $(JOBS) --target korvala_bench
	$(BENCH)/bench/korvala_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

# Release build of korvala-cli, then a real photo shrunk into each colour format family
# under demo-out/.
demo: deps
	scripts/demo.sh

clean:
	rm -rf build
