# Korvala: the everyday commands. `make test` installs what is missing, builds with
# AddressSanitizer and UndefinedBehaviorSanitizer and runs every test.

JOBS   ?= $(shell nproc)
ASAN   := build/asan
CMAKE_FLAGS ?=

.PHONY: test deps build-test clean

test: deps build-test
	ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS)

deps:
	scripts/install-deps.sh

build-test:
	cmake -S . -B $(ASAN) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVALA_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN) -j $(JOBS)

clean:
	rm -rf build
