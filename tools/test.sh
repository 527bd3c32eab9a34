#!/usr/bin/env bash
# Builds everything and runs every test: the C++ unit tests (GoogleTest/ctest) and the Python
# suite against the installed package. ZELVO_CI=1 (set by .ci/run) also treats warnings as errors
# and runs the C++ tests under AddressSanitizer/UndefinedBehaviorSanitizer and ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

# GoogleTest comes from the system's packages, and so does ccache (optional: it makes rebuilds of
# the same sources, as CI's plain and sanitizer builds are, nearly free).
missing=()
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
command -v ccache >/dev/null || missing+=(ccache)
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null || true
  fi
  if [ ! -f /usr/include/gtest/gtest.h ]; then
    echo "GoogleTest is missing: sudo apt-get install libgtest-dev" >&2
    exit 1
  fi
fi
LAUNCHER=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$ROOT  # hits across clones of the repository in other places
  LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export PIP_INSTALL_ARGS="${PIP_INSTALL_ARGS:-} --config-settings=cmake.define.CMAKE_CXX_COMPILER_LAUNCHER=ccache"
fi

WERROR=OFF
[ "${ZELVO_CI:-0}" = 1 ] && WERROR=ON
export EXTRAS=test,numpy  # numpy: the array form of streaming reads is tested too
export PIP_INSTALL_ARGS="${PIP_INSTALL_ARGS:-} --config-settings=cmake.define.ZELVO_WERROR=$WERROR"
source tools/setup_venv.sh

run_cpp_tests() {  # build dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -G Ninja -DZELVO_BUILD_TESTS=ON -DZELVO_BUILD_PYTHON=OFF \
        -DZELVO_WERROR=$WERROR -DCMAKE_BUILD_TYPE=RelWithDebInfo "${LAUNCHER[@]}" "$@" >/dev/null
  cmake --build "$dir" -j2 --target zelvo_tests
  (cd "$dir" && ctest --output-on-failure -j2)
}

echo "== C++ unit tests"
run_cpp_tests build/tests
if [ "${ZELVO_CI:-0}" = 1 ]; then
  echo "== C++ unit tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  run_cpp_tests build/tests-asan -DZELVO_SANITIZE=ON
  echo "== C++ unit tests under ThreadSanitizer"
  # A report fails the test that caused it.
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_cpp_tests build/tests-tsan -DZELVO_TSAN=ON
fi

echo "== Python tests"
cd /tmp && "$VENV/bin/python" -m pytest "$ROOT/tests/python" -q -p no:cacheprovider
