# The two commands a newcomer needs: `make run` and `make test`.
BUILD_DIR ?= build
SANITIZE_DIR ?= build-sanitize
FUZZ_DIR ?= build-fuzz
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps test-deps build run test test-trixie bench sanitize fuzz package format clean

deps:
	@scripts/install-deps

test-deps:
	@scripts/install-deps --test

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/quorrel

test: test-deps build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# `make test` on Debian 13 from this Debian 12 machine, as root: a trixie root
# from this machine's mirror, kept in TRIXIE_ROOT for the next run. Not part
# of CI: from nothing it takes some 6 minutes at JOBS=2, longer on a busy machine.
TRIXIE_ROOT ?= /var/cache/quorrel-trixie
test-trixie:
	@scripts/install-deps mmdebstrap
	scripts/test-trixie $(TRIXIE_ROOT) $(JOBS)

# The benchmark, not a test (see BENCHMARKS.md): about three minutes.
bench: build
	$(BUILD_DIR)/bench/quorrel-bench

# A Debian package of the build, in the build folder.
package: build
	cd $(BUILD_DIR) && cpack

# The same tests under the address and undefined-behaviour sanitizers.
sanitize: test-deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DQUORREL_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
		ctest --output-on-failure -j $(JOBS)

# The fuzz targets of the registry store's parser and of the initialisation-
# file reader (fuzz/), built with clang apart from the product and run for
# FUZZ_SECONDS each; not part of `make test`. An input that breaks a parser
# lands in $(FUZZ_DIR)/crashes/; kept in fuzz/regressions/, `make test` tries
# it from then on.
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/install-deps clang libclang-rt-dev
	cmake -S fuzz -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DQUORREL_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	cd $(FUZZ_DIR) && ctest --output-on-failure -j $(JOBS)
	@grep -h -e ' Test: ' -e 'number_of_executed_units' $(FUZZ_DIR)/Testing/Temporary/LastTest.log

format:
	find app hosts keepalive settings optimizer platform tests bench fuzz \
		\( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR)
