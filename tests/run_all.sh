#!/bin/bash
# Builds and runs every test: an optimised build with debug info, then a
# build under AddressSanitizer and UndefinedBehaviorSanitizer. The exported
# symbol check runs as one of the ctest tests.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${KSBNFC_JOBS:-2}

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
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${py_args[@]}"
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

# Install into a scratch prefix and build a C program against it.
rm -rf build/install-test
cmake --install build --prefix "$PWD/build/install-test" >/dev/null
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

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKSBNFC_SANITIZE=ON "${py_args[@]}"
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"

# One loaded grammar matched from 8 threads at once, under ThreadSanitizer:
# only the library and the thread test are built.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKSBNFC_SANITIZE=thread -DKSBNFC_INSTALL=OFF
cmake --build build-tsan -j"$jobs" --target threads_test
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/threads_test

# The callers are 32-bit x86 programs: build with -m32 and run every test,
# the tools included, under qemu-i386.
cmake -S . -B build-m32 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKSBNFC_M32=ON -DKSBNFC_INSTALL=OFF
cmake --build build-m32 -j"$jobs"
ctest --test-dir build-m32 --output-on-failure -j"$jobs"

echo "all tests passed"
