#!/usr/bin/env bash
# The main job: installs what is missing, builds the packer and both Windows
# builds, then builds a demonstration installer with the development keys and
# runs it under Wine with tracing switched on, showing what the stub does.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
bash "$ROOT/scripts/prepare.sh" host win32 win64
exec python3 "$ROOT/scripts/demo.py" --build "$ROOT/build"
