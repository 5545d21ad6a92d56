# Everything a person types. `make run` and `make test` set up the machine first.
JOBS      ?= 2
WERROR    ?= OFF
BUILD     := build
ASAN      := build-asan
CMAKE_GEN := -G Ninja

.PHONY: all setup build build-asan run test test-normal test-asan bench site format format-check clean fuzz tsan

all: build

setup:
	@./scripts/setup.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_WERROR=$(WERROR)

$(ASAN)/build.ninja:
	cmake -S . -B $(ASAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON \
	  -DQUORVEL_BUILD_BENCHMARKS=OFF -DQUORVEL_WERROR=$(WERROR)

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

build-asan: setup $(ASAN)/build.ninja
	cmake --build $(ASAN) -j $(JOBS)

# The main job: the command-line host on the embedded virtual clock. Only what it runs is built
# (ponto and its libraries); `make test` builds the rest.
run: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target ponto
	./$(BUILD)/tools/ponto/ponto coletar

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

test: format-check test-normal test-asan fuzz

# The C boundary under ThreadSanitizer (outside `make test`: a third full build).
TSAN := build-tsan
tsan: setup
	cmake -S . -B $(TSAN) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_BUILD_BENCHMARKS=OFF \
	  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_C_FLAGS=-fsanitize=thread \
	  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
	cmake --build $(TSAN) -j $(JOBS) --target test_typelib
	TSAN_OPTIONS=halt_on_error=1 ./$(TSAN)/tests/test_typelib --gtest_filter='AbiC.*:LateBinding.*'

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b; done
	@echo "== bench/saida_ponto.py"; /usr/bin/python3 bench/saida_ponto.py $(BUILD)

# A whole site: PostgreSQL, 1,000 clocks, three collector services, five minutes.
site: build
	/usr/bin/python3 bench/site.py --build $(BUILD)

FONTES = $$(git ls-files '*.h' '*.cpp' '*.c' 2>/dev/null || \
            find include src tools tests bench examples -name '*.h' -o -name '*.cpp' -o -name '*.c')

format:
	clang-format -i $(FONTES)

# Every source as clang-format writes it; part of `make test`, so a file off the style fails CI.
format-check: setup
	clang-format --dry-run -Werror $(FONTES)

clean:
	rm -rf $(BUILD) $(ASAN) $(FUZZ)

# The protocol decoder under libFuzzer (clang), for a bounded time: the fuzz target of the CMake
# build, from the protocol's layer and the ones the clock's session stands on.
FUZZ_SEGUNDOS ?= 30
FUZZ := build-fuzz
$(FUZZ)/build.ninja:
	CXX=clang++ cmake -S . -B $(FUZZ) $(CMAKE_GEN) -DCMAKE_CXX_FLAGS="-g -O1" -DQUORVEL_FUZZ=ON \
	  -DQUORVEL_BUILD_TESTS=OFF -DQUORVEL_BUILD_BENCHMARKS=OFF -DQUORVEL_BUILD_TOOLS=OFF
fuzz: setup $(FUZZ)/build.ninja
	cmake --build $(FUZZ) -j $(JOBS) --target protocolo_fuzz
	mkdir -p $(FUZZ)/corpus
	@if ./$(FUZZ)/tests/fuzz/protocolo_fuzz -max_total_time=$(FUZZ_SEGUNDOS) -max_len=4096 \
	    -rss_limit_mb=1024 $(FUZZ)/corpus > $(FUZZ)/fuzz.log 2>&1; then tail -1 $(FUZZ)/fuzz.log; \
	  else tail -40 $(FUZZ)/fuzz.log; echo "o fuzzer encontrou uma falha"; exit 1; fi
