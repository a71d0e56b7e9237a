#!/bin/bash
# Builds and runs every test, in stages (README.md, "Testing", gives the time
# of each):
#   1. an optimised build with debug info and its ctest (the exported symbol
#      check, the tool, golden-output, documentation and Python tests among them);
#   2. the install check: an install into a scratch prefix, programs built
#      against it with CMake and with pkg-config, the installed Python module,
#      and the Python package built by pip into a fresh virtual environment;
#   3. a build under AddressSanitizer and UndefinedBehaviorSanitizer, and its ctest;
#   4. the thread test under ThreadSanitizer;
#   5. every fuzz target for KSBNFC_FUZZ_SECONDS (60) each;
#   6. a 32-bit build, every test run under qemu-i386.
# `--quick` runs stage 1 alone. A stage whose toolchain is missing is skipped
# with a message that names the packages to install (.ci/run installs them
# all); the closing summary lists skipped stages and every test that ctest
# skipped or did not run.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
case "${1:-}" in
    --quick) quick=1 ;;
    "") ;;
    *) echo "usage: bash tests/run_all.sh [--quick]" >&2; exit 2 ;;
esac
jobs=${KSBNFC_JOBS:-2}
skipped=()
skipped_tests=()

# stage NAME: announces a stage, with the time the run has taken so far.
stage() {
    echo "=== $1 (at ${SECONDS} s)"
}
# skip STAGE PACKAGES: records and reports a stage left out.
skip() {
    echo "*** skipping $1: install $2 (Debian: apt-get install $2)" >&2
    skipped+=("$1 (needs $2)")
}
# run_ctest DIR: runs the tests of the build in DIR, output kept in
# DIR/ctest.log, and records the tests that ctest skipped or did not run.
run_ctest() {
    ctest --test-dir "$1" --output-on-failure -j"$jobs" 2>&1 | tee "$1/ctest.log"
    local t
    while IFS= read -r t; do
        skipped_tests+=("$t ($1)")
    done < <(sed -n 's/^ *[0-9]*\/[0-9]* *Test *#[0-9]*: *\([^ ]*\) .*\(\*\*\*Skipped\|Not Run\).*/\1/p' "$1/ctest.log")
}
# summary: lists what was left out, then ends the run.
summary() {
    if [ ${#skipped[@]} -gt 0 ]; then
        echo "tests passed, but these stages were skipped:" >&2
        printf '  %s\n' "${skipped[@]}" >&2
    fi
    if [ ${#skipped_tests[@]} -gt 0 ]; then
        echo "tests passed, but ctest skipped these tests (the reason is in the build's ctest.log):" >&2
        printf '  %s\n' "${skipped_tests[@]}" >&2
    fi
    if [ ${#skipped[@]} = 0 ] && [ ${#skipped_tests[@]} = 0 ]; then
        echo "all tests passed in ${SECONDS} s"
    fi
    exit 0
}
# Whether the C++ compiler builds and links a program with the given flags.
compiles() {
    local dir
    dir=$(mktemp -d)
    printf 'int main() { return 0; }\n' >"$dir/t.cpp"
    "${CXX:-c++}" "$@" "$dir/t.cpp" -o "$dir/t" >/dev/null 2>&1
    local rc=$?
    rm -rf "$dir"
    return $rc
}

# The Python module is built for the first interpreter on PATH that can run
# its tests (a version manager's python3 may shadow the system's, which has
# pytest).
py_args=()
for p in python3 /usr/bin/python3; do
    if command -v "$p" >/dev/null && "$p" -c "import pytest" 2>/dev/null; then
        py_args=(-DPython3_EXECUTABLE="$(command -v "$p")")
        break
    fi
done
stage "1. optimised build and its tests"
have_gtest=0
[ -e /usr/include/gtest/gtest.h ] || [ -e /usr/local/include/gtest/gtest.h ] && have_gtest=1
if [ $have_gtest = 1 ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKSBNFC_BUILD_TESTS=ON "${py_args[@]}"
    cmake --build build -j"$jobs"
    run_ctest build
else
    skip "the unit and tool tests" libgtest-dev
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKSBNFC_BUILD_TESTS=OFF "${py_args[@]}"
    cmake --build build -j"$jobs"
fi

[ $quick = 0 ] || summary

stage "2. install check"
# Install into a scratch prefix and build C programs against it.
rm -rf build/install-test
cmake --install build --prefix "$PWD/build/install-test" >/dev/null
for page in ksbnfc ksfsg; do
    [ -f "build/install-test/share/man/man1/$page.1" ] || { echo "install: no manual page $page.1" >&2; exit 1; }
done
cmake -S tests/install -B build/install-test/consumer -DCMAKE_PREFIX_PATH="$PWD/build/install-test" \
    -DKSBNFC_API_EXAMPLE="$PWD/build/install-test/share/doc/ksbnfc/api_example.c"
cmake --build build/install-test/consumer
build/install-test/consumer/testinstall
# The program of docs/api.md, as installed, compiles, loads, tests, translates and searches.
build/install-test/consumer/api_example examples/coffee.bnf build/install-test/order.fst
# The same program built with pkg-config and run exactly as README.md says
# for a private prefix: the run path names the library's folder.
if command -v pkg-config >/dev/null; then
    pc=$(find "$PWD/build/install-test" -name ksbnfc.pc)
    (export PKG_CONFIG_PATH=${pc%/ksbnfc.pc}
     cd build/install-test
     cc share/doc/ksbnfc/api_example.c $(pkg-config --cflags --libs ksbnfc) \
         -Wl,-rpath,$(pkg-config --variable=libdir ksbnfc) -o api_example_pc
     ./api_example_pc ../../examples/coffee.bnf order_pc.fst >/dev/null)
    echo "api_example built with pkg-config ran from the private prefix"
else
    skip "the pkg-config install check" pkg-config
fi
# The Python module, where it was built, imported from the scratch install.
site=$(sed -n 's/^KSBNFC_PYTHON_SITE_DIR:INTERNAL=//p' build/CMakeCache.txt)
python=$(sed -n 's/^_\{0,1\}Python3_EXECUTABLE:[A-Z]*=//p' build/CMakeCache.txt | head -n 1)
if [ -n "$site" ] && [ -d "build/install-test/$site/ksbnfc" ]; then
    (cd build/install-test && PYTHONPATH="$PWD/$site" "$python" -c \
        "import ksbnfc, os; assert ksbnfc.__file__.startswith(os.getcwd()), ksbnfc.__file__; print(ksbnfc.load(ksbnfc.compile('../../examples/coffee.bnf', 'translation')['order']).translate('two large lattes please'))")
    # The package as README.md builds it: a wheel made by pip from the source
    # tree, installed into a fresh virtual environment, imported from elsewhere.
    if "$python" -c "import ensurepip, setuptools, wheel" 2>/dev/null && "$python" -m pip --version >/dev/null 2>&1; then
        rm -rf build/wheel-test
        KSBNFC_JOBS=$jobs "$python" -m pip wheel -q --no-build-isolation --no-deps -w build/wheel-test .
        "$python" -m venv --system-site-packages build/wheel-test/venv
        build/wheel-test/venv/bin/python -m pip install -q --no-index --no-deps build/wheel-test/ksbnfc-*.whl
        (cd build/wheel-test && venv/bin/python -c \
            "import ksbnfc, os; assert ksbnfc.__file__.startswith(os.getcwd()), ksbnfc.__file__; print(ksbnfc.load(ksbnfc.compile('../../examples/coffee.bnf', 'translation')['order']).translate('two large lattes please'))")
    else
        skip "the Python package check" "python3-venv python3-pip python3-setuptools python3-wheel"
    fi
else
    skip "the Python install checks (no Python module was built)" "python3-dev pybind11-dev"
fi

stage "3. AddressSanitizer and UndefinedBehaviorSanitizer build and its tests"
if [ $have_gtest = 0 ]; then
    skip "the sanitizer build" libgtest-dev
elif compiles -fsanitize=address,undefined; then
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKSBNFC_SANITIZE=ON "${py_args[@]}"
    cmake --build build-asan -j"$jobs"
    run_ctest build-asan
else
    skip "the sanitizer build" "g++ (its libasan and libubsan)"
fi

stage "4. thread test under ThreadSanitizer"
# One loaded grammar matched from 8 threads at once, under ThreadSanitizer:
# only the library and the thread test are built.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKSBNFC_SANITIZE=thread -DKSBNFC_INSTALL=OFF
cmake --build build-tsan -j"$jobs" --target threads_test
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/threads_test

stage "5. fuzz targets"
# Every fuzz target for KSBNFC_FUZZ_SECONDS (60) each, seeded from the
# examples; an input slower than 10 s fails the run as a crash does.
if command -v clang++ >/dev/null; then
    fuzz_seconds=${KSBNFC_FUZZ_SECONDS:-60}
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKSBNFC_BUILD_FUZZ=ON -DKSBNFC_BUILD_TESTS=OFF -DKSBNFC_INSTALL=OFF
    fuzz_targets="fsg_reader_fuzzer fsg_match_fuzzer bnf_fuzzer bnf_utf8_fuzzer match_fuzzer list_fuzzer wyoming_fuzzer"
    cmake --build build-fuzz -j"$jobs" --target $fuzz_targets
    root=$PWD seeds=build-fuzz/seeds
    rm -rf "$seeds" && mkdir -p "$seeds"/bnf "$seeds"/fsg "$seeds"/match "$seeds"/words "$seeds"/list "$seeds"/events
    cp examples/*.bnf "$seeds"/bnf/
    cp examples/*.txt "$seeds"/list/
    printf '{"type": "describe"}\n{"type": "recognize", "data": {"text": "turn left"}}\n' > "$seeds"/events/1
    for g in coffee dialer contacts; do
        build/tools/ksbnfc -en "examples/$g.bnf" -d "$seeds"/fsg -w 0 >/dev/null
        build/tools/ksbnfc -tr "examples/$g.bnf" -d "$seeds"/fsg -w 0 >/dev/null
    done
    n=0
    for f in "$seeds"/fsg/*; do
        while IFS= read -r line; do
            n=$((n + 1))
            { cat "$f"; printf '\n%s' "$line"; } > "$seeds/match/$n"
            printf '\000%s' "$line" > "$seeds/words/$n"
        done < examples/coffee.txt
    done
    for t in $fuzz_targets; do
        case $t in
            fsg_reader_fuzzer) corpus=$seeds/fsg ;;
            fsg_match_fuzzer) corpus=$seeds/match ;;
            match_fuzzer) corpus=$seeds/words ;;
            list_fuzzer) corpus=$seeds/list ;;
            wyoming_fuzzer) corpus=$seeds/events ;;
            *) corpus=$seeds/bnf ;;
        esac
        mkdir -p "build-fuzz/corpus/$t"
        echo "fuzzing $t for $fuzz_seconds s"
        if ! (cd build-fuzz && "fuzz/$t" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
                -max_len=8192 -print_final_stats=1 "corpus/$t" "$root/$corpus" > "$t.log" 2>&1); then
            tail -n 60 "build-fuzz/$t.log"
            echo "fuzz target $t failed"
            exit 1
        fi
        tail -n 4 "build-fuzz/$t.log"
    done
else
    skip "the fuzz targets" "clang libclang-rt-14-dev"
fi

stage "6. 32-bit build and its tests under qemu-i386"
# The callers are 32-bit x86 programs: build with -m32 and run every test,
# the tools included, under qemu-i386. GoogleTest is built from the sources
# that libgtest-dev ships.
if ! compiles -m32 || ! command -v qemu-i386 >/dev/null || [ ! -d /usr/src/googletest/googletest ]; then
    skip "the 32-bit build" "g++-multilib qemu-user libgtest-dev"
else
    cmake -S . -B build-m32 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKSBNFC_M32=ON -DKSBNFC_INSTALL=OFF
    cmake --build build-m32 -j"$jobs"
    run_ctest build-m32
fi

summary
