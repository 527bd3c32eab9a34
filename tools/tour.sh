#!/usr/bin/env bash
# Builds and installs pyzelvo into .venv, then runs the tour against the built-in emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/setup_venv.sh
exec "$VENV/bin/python" -m pyzelvo tour
