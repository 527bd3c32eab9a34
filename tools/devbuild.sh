#!/usr/bin/env bash
# Fast edit-build-test loop without installing: builds the extension (and the C++ tests) in
# $BUILD (default build/dev) and assembles an importable package in $BUILD/pkg (symlinks to
# python/pyzelvo plus the built module).
#   tools/devbuild.sh
#   PYTHONPATH=build/dev/pkg python -m pytest tests/python
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/python.sh
BUILD=${BUILD:-build/dev}
PY=${PYTHON:-$(find_python)}
LAUNCHER=()
if command -v ccache >/dev/null; then  # objects other builds of the same sources compiled are reused
  export CCACHE_BASEDIR=$PWD
  LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DPython_EXECUTABLE="$PY" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZELVO_BUILD_TESTS=ON "${LAUNCHER[@]}" ${CMAKE_ARGS:-} >/dev/null
fi
cmake --build "$BUILD" -j"${JOBS:-2}"
mkdir -p "$BUILD/pkg/pyzelvo"
for f in python/pyzelvo/*.py; do ln -sf "$PWD/$f" "$BUILD/pkg/pyzelvo/"; done
ln -sf "$PWD/$BUILD"/_core*.so "$BUILD/pkg/pyzelvo/"
for f in "$BUILD"/*.pyi "$BUILD"/py.typed; do  # the stubs, as an installed package has them
  if [ -f "$f" ]; then ln -sf "$PWD/$f" "$BUILD/pkg/pyzelvo/"; fi
done
echo "ready: PYTHONPATH=$PWD/$BUILD/pkg $PY"
