#!/usr/bin/env bash
# Builds everything and runs every test: the C++ unit tests (GoogleTest/ctest) and the Python
# suite against the installed package. ZELVO_CI=1 (set by .ci/run) also treats warnings as errors
# and runs the C++ tests under AddressSanitizer/UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

# GoogleTest comes from the system's packages.
if [ ! -f /usr/include/gtest/gtest.h ]; then
  if [ "$(id -u)" = 0 ]; then
    apt-get update -qq && apt-get install -y -qq libgtest-dev >/dev/null
  else
    echo "GoogleTest is missing: sudo apt-get install libgtest-dev" >&2
    exit 1
  fi
fi

WERROR=OFF
[ "${ZELVO_CI:-0}" = 1 ] && WERROR=ON
export EXTRAS=test,numpy  # numpy: the array form of streaming reads is tested too
export PIP_INSTALL_ARGS="${PIP_INSTALL_ARGS:-} -Ccmake.define.ZELVO_WERROR=$WERROR"
source tools/setup_venv.sh

run_cpp_tests() {  # build dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja -DZELVO_BUILD_TESTS=ON -DZELVO_BUILD_PYTHON=OFF \
        -DZELVO_WERROR=$WERROR -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j2 --target zelvo_tests
  (cd "$dir" && ctest --output-on-failure -j2)
}

echo "== C++ unit tests"
run_cpp_tests build/tests
if [ "${ZELVO_CI:-0}" = 1 ]; then
  echo "== C++ unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  run_cpp_tests build/tests-asan -DZELVO_SANITIZE=ON
fi

echo "== Python tests"
cd /tmp && "$VENV/bin/python" -m pytest "$ROOT/tests/python" -q -p no:cacheprovider
