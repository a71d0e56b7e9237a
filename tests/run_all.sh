#!/bin/bash
# Builds and runs every test: an optimised build with debug info, then a
# build under AddressSanitizer and UndefinedBehaviorSanitizer, then a 32-bit
# build under qemu-i386. The exported symbol check runs as one of the ctest
# tests. A stage whose toolchain is missing is skipped with a message that
# names the packages to install; .ci/run installs them all.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${KSBNFC_JOBS:-2}
skipped=()

# skip STAGE PACKAGES: records and reports a stage left out.
skip() {
    echo "*** skipping $1: install $2 (Debian: apt-get install $2)" >&2
    skipped+=("$1 (needs $2)")
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
have_gtest=0
[ -e /usr/include/gtest/gtest.h ] || [ -e /usr/local/include/gtest/gtest.h ] && have_gtest=1
if [ $have_gtest = 1 ]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKSBNFC_BUILD_TESTS=ON "${py_args[@]}"
    cmake --build build -j"$jobs"
    ctest --test-dir build --output-on-failure -j"$jobs"
else
    skip "the unit and tool tests" libgtest-dev
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKSBNFC_BUILD_TESTS=OFF "${py_args[@]}"
    cmake --build build -j"$jobs"
fi

# Install into a scratch prefix and build a C program against it.
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
# The Python module, where it was built, imported from the scratch install.
site=$(sed -n 's/^KSBNFC_PYTHON_SITE:[A-Z]*=//p' build/CMakeCache.txt)
python=$(sed -n 's/^_\{0,1\}Python3_EXECUTABLE:[A-Z]*=//p' build/CMakeCache.txt | head -n 1)
if [ -n "$site" ] && [ -d "build/install-test/$site/ksbnfc" ]; then
    (cd build/install-test && PYTHONPATH="$PWD/$site" "$python" -c \
        "import ksbnfc, os; assert ksbnfc.__file__.startswith(os.getcwd()), ksbnfc.__file__; print(ksbnfc.load(ksbnfc.compile('../../examples/coffee.bnf', 'translation')['order']).translate('two large lattes please'))")
else
    echo "Python module not built: its install check is skipped"
fi

if [ $have_gtest = 0 ]; then
    skip "the sanitizer build" libgtest-dev
elif compiles -fsanitize=address,undefined; then
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKSBNFC_SANITIZE=ON "${py_args[@]}"
    cmake --build build-asan -j"$jobs"
    ctest --test-dir build-asan --output-on-failure -j"$jobs"
else
    skip "the sanitizer build" "g++ (its libasan and libubsan)"
fi

# One loaded grammar matched from 8 threads at once, under ThreadSanitizer:
# only the library and the thread test are built.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKSBNFC_SANITIZE=thread -DKSBNFC_INSTALL=OFF
cmake --build build-tsan -j"$jobs" --target threads_test
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/threads_test

# Every fuzz target for KSBNFC_FUZZ_SECONDS (60) each, seeded from the
# examples; an input slower than 10 s fails the run as a crash does.
if command -v clang++ >/dev/null; then
    fuzz_seconds=${KSBNFC_FUZZ_SECONDS:-60}
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKSBNFC_BUILD_FUZZ=ON -DKSBNFC_BUILD_TESTS=OFF -DKSBNFC_INSTALL=OFF
    fuzz_targets="fsg_reader_fuzzer fsg_match_fuzzer bnf_fuzzer bnf_utf8_fuzzer match_fuzzer"
    cmake --build build-fuzz -j"$jobs" --target $fuzz_targets
    root=$PWD seeds=build-fuzz/seeds
    rm -rf "$seeds" && mkdir -p "$seeds"/bnf "$seeds"/fsg "$seeds"/match "$seeds"/words
    cp examples/*.bnf "$seeds"/bnf/
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
    echo "fuzz targets skipped: clang++ not found (Debian: apt-get install clang libclang-rt-14-dev)"
fi

# The callers are 32-bit x86 programs: build with -m32 and run every test,
# the tools included, under qemu-i386. GoogleTest is built from the sources
# that libgtest-dev ships.
if ! compiles -m32 || ! command -v qemu-i386 >/dev/null || [ ! -d /usr/src/googletest/googletest ]; then
    skip "the 32-bit build" "g++-multilib qemu-user libgtest-dev"
else
    cmake -S . -B build-m32 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKSBNFC_M32=ON -DKSBNFC_INSTALL=OFF
    cmake --build build-m32 -j"$jobs"
    ctest --test-dir build-m32 --output-on-failure -j"$jobs"
fi

if [ ${#skipped[@]} -gt 0 ]; then
    echo "tests passed, but these stages were skipped:" >&2
    printf '  %s\n' "${skipped[@]}" >&2
    exit 0
fi
echo "all tests passed"
