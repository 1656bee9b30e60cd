# Front door of the repository. `make demo` and `make test` do all the set-up on a fresh machine.
.PHONY: all deps configure build test demo asan bench fuzz conformance clean

JOBS ?= 2
SEEDS ?= 20
export QT_QPA_PLATFORM ?= offscreen
export SCRIBE_CONSOLE ?= 0

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake --preset default

build: configure
	cmake --build --preset default -j $(JOBS)

test: build
	ctest --preset default

demo: configure
	cmake --build --preset default -j $(JOBS) --target demo_programs
	bash scripts/demo.sh build

asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

bench: build
	bash scripts/run-benchmarks.sh build

# Random networks from seeds 1..SEEDS, each built and run by the engine and compared with PyTorch
# (`make test` runs a fixed set of seeds as the ctest entry "conformance").
conformance: configure
	cmake --build --preset default -j $(JOBS) --target conformance_runner
	"$$(sed -n 's/^KRELL_CONFORMANCE_PYTHON:FILEPATH=//p' build/CMakeCache.txt | grep . || echo python3)" \
	  tests/conformance/conformance.py --runner build/tests/conformance/conformance_runner --seeds $(SEEDS)

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

clean:
	rm -rf build build-asan build-fuzz
