# Tolvane: build, lay out the program folder, run and test.
#   make        install packages (if missing), build, lay out build/Tolvane/
#   make run    ... and start the player in its program folder
#   make test   ... and run the whole test suite through CTest
#   make install [PREFIX=/usr/local] [DESTDIR=...]   install for every user
#   make package   build a Debian package in build/package/
#   make fuzz [FUZZ_RUNS=n] [FUZZ_SECONDS=s] [FUZZ_TARGETS="inifile hls"]   fuzz the parsers
BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
FUZZ_DIR  ?= build-fuzz
TSAN_DIR  ?= build-tsan
JOBS      ?= $(shell nproc)
# Tests mostly wait on sockets, timers and child servers (the normal pass
# uses about a third of the machine's CPU time), so one more runs than
# there are cores.
TEST_JOBS ?= $(shell echo $$(( $$(nproc) + 1 )))
# Line tables only: backtraces keep their file and line, the build is quicker.
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"

.PHONY: all deps build layout run test test-asan test-tsan fuzz format-check tidy install package clean

# Every C++ file of the project as clang-format leaves it.
SOURCES = $(shell git ls-files '*.cpp' '*.h')

all: layout

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) -j$(JOBS)

layout: build
	bash scripts/layout.sh $(BUILD_DIR)

run: layout
	cd $(BUILD_DIR)/Tolvane && ./tolvane

test: format-check layout
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(TEST_JOBS) --timeout 600
	$(MAKE) test-asan
	$(MAKE) test-tsan

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer,
# with leak detection. Line tables only (-g1): reports still name file and
# line, and the build and links take less time.
test-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOLVANE_SANITIZE=ON -DTOLVANE_BUILD_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS_DEBUG=-g1
	cmake --build $(ASAN_DIR) -j$(JOBS)
	cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j$(TEST_JOBS) --timeout 900

# The threaded parts (the engine, the stream opener, the recorder and the
# online services) under ThreadSanitizer. Only the executables of the tests
# labelled "tsan" are built.
test-tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_SANITIZE=thread -DTOLVANE_BUILD_BENCH=OFF \
	  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
	cmake --build $(TSAN_DIR) -j$(JOBS) --target $$(cd $(TSAN_DIR) && ctest -N -L tsan | sed -n 's/^ *Test *#[0-9]*: //p')
	cd $(TSAN_DIR) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --output-on-failure -j$(TEST_JOBS) -L tsan --timeout 900

# The parsers of outside input under libFuzzer (clang-14, AddressSanitizer,
# UndefinedBehaviorSanitizer), one target after another on one core. Only the
# fuzz targets and the parsers are built here; what a run finds goes into
# tests/fuzz/corpus/ as a replay test. Not part of `make test`.
FUZZ_RUNS ?= 10000000
FUZZ_SECONDS ?= 0
FUZZ_TARGETS ?= inifile httphead icy_split playlist hls manifest banners nowplaying picture_reply \
  catalog_listing directory_reply decoders ogg_pages
fuzz: deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
	cmake --build $(FUZZ_DIR) -j$(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_RUNS) $(FUZZ_TARGETS)

format-check: deps
	clang-format --dry-run --Werror $(SOURCES)

# clang-tidy (.clang-tidy) over src/, with the build's compile commands.
tidy: build
	run-clang-tidy -quiet -p $(BUILD_DIR) '$(CURDIR)/src/'

PREFIX ?= /usr/local
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD_DIR) --prefix $(PREFIX)

package: build
	cd $(BUILD_DIR) && cpack -G DEB

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(FUZZ_DIR)
