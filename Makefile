# Every public target runs inside the build root (tools/buildroot), which is created on
# first use; the in-* targets are what runs there.
BUILD ?= build
BUILDROOT := tools/buildroot run
PYTEST_ARGS ?= -q

.PHONY: demo test build in-build in-demo in-test clean

demo:
	$(BUILDROOT) $(MAKE) --no-print-directory in-demo

test:
	$(BUILDROOT) $(MAKE) --no-print-directory in-test

build:
	$(BUILDROOT) $(MAKE) --no-print-directory in-build

in-build:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD)

in-demo: in-build
	PYTHONPATH=$(CURDIR) python3 tools/demo.py

in-test: in-build
	ctest --test-dir $(BUILD) --output-on-failure -j2
	PYTHONPATH=$(CURDIR) python3 -m pytest $(PYTEST_ARGS) tests/python

clean:
	rm -rf $(BUILD) quirelo/_quirelo*.so
