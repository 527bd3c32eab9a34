#!/usr/bin/env bash
# Builds and installs pyzelvo into .venv, then runs the tour against the built-in emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup_venv.sh
# The tour plots the streamed channels when matplotlib is there; without it, it says so and goes on.
"$VENV/bin/python" -c "import matplotlib" 2>/dev/null ||
  "$VENV/bin/python" -m pip install -q matplotlib || echo "matplotlib could not be installed: no plot"
exec "$VENV/bin/python" -m pyzelvo tour
