# Front door of the repository. `make demo` and `make test` do all the set-up on a fresh machine.
.PHONY: all deps configure build test demo asan tsan bench fuzz conformance clean

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
# The threaded code under ThreadSanitizer: the manager, the serial link, the executor (the
# stand-in tf::Executor and Lumora-Core's global executor with its time helpers) and the CMX link.
# Only their test programs are built (TSan builds are slow); each runs on its own, and any report
# fails the target. tsan.supp lists the reports that are not ours to fix.
TSAN_TESTS = devicebench_manager_test devicebench_cli_test devicebench_maintenance_test devicebench_console_test devicebench_upgrade_test devicebench_model_ops_test \
	serial_framing_test serial_source_test serial_sim_test taskflow_executor_test lumora_core_test \
	cmx_transport_test cmx_client_test cmx_link_hardening_test firmware_upgrade_test
export TSAN_OPTIONS ?= suppressions=$(CURDIR)/tsan.supp second_deadlock_stack=1

tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS) --target $(TSAN_TESTS)
	@set -e; for t in $(TSAN_TESTS); do \
		bin=$$(find build-tsan/tests -type f -name $$t -perm -u+x | head -n 1); \
		echo "== $$t"; (cd $$(dirname $$bin) && ./$$t); \
	done

# Builds the libFuzzer targets and measures the CMX reply fuzzer over a bounded number of inputs
# (libFuzzer prints exec/s at the end). New inputs go to build-fuzz/corpus_cmx, the seeds stay.
FUZZ_RUNS ?= 100000

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	mkdir -p build-fuzz/corpus_cmx
	build-fuzz/fuzz/fuzz_cmx_reply -runs=$(FUZZ_RUNS) -print_final_stats=1 \
		build-fuzz/corpus_cmx fuzz/corpus_cmx

clean:
	rm -rf build build-asan build-tsan build-fuzz
