# Every public target runs inside the build root (tools/buildroot), which is created on
# first use; the in-* targets are what runs there.
SHELL := /bin/bash
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
BUILDROOT := tools/buildroot run
PYTEST_ARGS ?= -q
FUZZ_SECONDS ?= 30
FUZZ_TARGETS = $(patsubst fuzz/%.cpp,%,$(wildcard fuzz/fuzz_*.cpp))

.PHONY: demo test build sanitize tsan fuzz bench clean \
        in-build in-demo in-test in-sanitize in-tsan in-fuzz in-bench

demo:
	$(BUILDROOT) $(MAKE) --no-print-directory in-demo

# Everything CI runs: the normal suites, the sanitizer suites, bounded fuzzing.
test:
	$(BUILDROOT) $(MAKE) --no-print-directory in-test in-sanitize in-tsan in-fuzz

build:
	$(BUILDROOT) $(MAKE) --no-print-directory in-build

sanitize:
	$(BUILDROOT) $(MAKE) --no-print-directory in-sanitize

tsan:
	$(BUILDROOT) $(MAKE) --no-print-directory in-tsan

# Longer fuzzing by hand: make fuzz FUZZ_SECONDS=600
fuzz:
	$(BUILDROOT) $(MAKE) --no-print-directory in-fuzz

bench:
	$(BUILDROOT) $(MAKE) --no-print-directory in-bench

in-build:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD)

in-demo: in-build
	PYTHONPATH=$(CURDIR) python3 tools/demo.py

in-test: in-build
	ctest --test-dir $(BUILD) --output-on-failure -j2
	PYTHONPATH=$(CURDIR) python3 -m pytest $(PYTEST_ARGS) tests/python

# AddressSanitizer + UndefinedBehaviorSanitizer: the C++ tests with leak checking, then
# the Python tests against a sanitized copy of the package, the runtime preloaded into
# the (uninstrumented) interpreter.
ASAN_RUNTIME = $(shell clang++ -print-file-name=libclang_rt.asan-x86_64.so)
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:detect_stack_use_after_return=0 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
in-sanitize:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DQUIRELO_SANITIZE=ON -DQUIRELO_BENCH=OFF -DQUIRELO_MODULE_DIR=$(CURDIR)/$(ASAN_BUILD)/python/quirelo >/dev/null
	cmake --build $(ASAN_BUILD)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --test-dir $(ASAN_BUILD) --output-on-failure -j2
	cp quirelo/*.py quirelo/*.pyi quirelo/py.typed $(ASAN_BUILD)/python/quirelo/
	$(SANITIZER_ENV) LD_PRELOAD=$(ASAN_RUNTIME) PYTHONMALLOC=malloc QUIRELO_SANITIZED=1 \
		QUIRELO_PACKAGE_ROOT=$(CURDIR)/$(ASAN_BUILD)/python \
		python3 -m pytest $(PYTEST_ARGS) -p no:cacheprovider tests/python

# ThreadSanitizer: the C++ tests, then the thread tests against a sanitized copy of the
# package. TZ is set because glibc's time-zone reload (under a lock the tool cannot see)
# otherwise looks like a race; threads cannot start after fork under the tool, so the
# fork test is left to the other builds.
TSAN_RUNTIME = $(shell clang++ -print-file-name=libclang_rt.tsan-x86_64.so)
in-tsan:
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DQUIRELO_TSAN=ON -DQUIRELO_BENCH=OFF -DQUIRELO_MODULE_DIR=$(CURDIR)/$(TSAN_BUILD)/python/quirelo >/dev/null
	cmake --build $(TSAN_BUILD)
	cd $(TSAN_BUILD) && TZ=UTC TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tools/tsan_suppressions.txt" \
		./quirelo_tests --gtest_brief=1 --gtest_filter=-BatchPool.ForkedChildGetsAWorkingSharedPool
	cp quirelo/*.py quirelo/*.pyi quirelo/py.typed $(TSAN_BUILD)/python/quirelo/
	TZ=UTC TSAN_OPTIONS="halt_on_error=1 suppressions=$(CURDIR)/tools/tsan_suppressions.txt" LD_PRELOAD=$(TSAN_RUNTIME) QUIRELO_SANITIZED=1 \
		QUIRELO_PACKAGE_ROOT=$(CURDIR)/$(TSAN_BUILD)/python \
		python3 -m pytest -q -s -p no:cacheprovider tests/python/test_threads.py tests/python/test_batch.py \
		tests/python/test_stream.py

# Each libFuzzer target from its committed seeds for FUZZ_SECONDS; new inputs go to a
# scratch folder, crashes fail the run and are kept in $(FUZZ_BUILD)/crashes.
in-fuzz:
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DQUIRELO_FUZZ=ON >/dev/null
	cmake --build $(FUZZ_BUILD)
	mkdir -p $(FUZZ_BUILD)/crashes
	set -e; for target in $(FUZZ_TARGETS); do \
		seeds=fuzz/seeds/$${target#fuzz_}; scratch=$(FUZZ_BUILD)/corpus/$$target; mkdir -p $$scratch; \
		echo "fuzzing $$target for $(FUZZ_SECONDS) s"; \
		$(FUZZ_BUILD)/$$target $$scratch $$seeds -max_total_time=$(FUZZ_SECONDS) -timeout=20 \
			-rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/crashes/ 2>&1 \
			| grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==|SUMMARY|Done)" ; \
		test $${PIPESTATUS[0]} -eq 0; \
	done

in-bench: in-build
	for bench in $(BUILD)/bench_*; do echo "== $$bench"; $$bench; done
	PYTHONPATH=$(CURDIR) python3 bench/bench_write_zipfile.py
	PYTHONPATH=$(CURDIR) python3 bench/bench_to_markdown.py
	PYTHONPATH=$(CURDIR) python3 bench/bench_gfm_pandoc.py
	PYTHONPATH=$(CURDIR) python3 bench/bench_dataset.py
	PYTHONPATH=$(CURDIR) python3 bench/bench_pipeline.py

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) quirelo/_quirelo*.so quirelo/_pipeline*.so quirelo/libquirelo_bindings.so quirelo/_epub_rules.py
