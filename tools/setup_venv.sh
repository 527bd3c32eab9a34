# Sourced by tour.sh and test.sh: creates .venv with Python 3.12 (or the best python3 found) and
# installs pyzelvo into it from this checkout, with the extras named in $EXTRAS. Incremental:
# the C++ build directory is kept between runs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/python.sh"
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VENV=${VENV:-$ROOT/.venv}
if [ ! -x "$VENV/bin/python" ]; then
  PY=${PYTHON:-$(find_python)}
  echo "Creating $VENV with $("$PY" --version)"
  "$PY" -m venv "$VENV"
  "$VENV/bin/python" -m pip install -q --upgrade pip
fi
echo "Building and installing pyzelvo into $VENV (first build takes a few minutes)"
"$VENV/bin/python" -m pip install -q ${PIP_INSTALL_ARGS:-} "$ROOT${EXTRAS:+[$EXTRAS]}"
