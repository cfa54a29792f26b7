#!/usr/bin/env bash
# The main job: installs what is missing, builds the packer, both Windows
# builds and the demo product, then builds the demo installer with
# `qxpack build demo/product.json`, verifies it, and runs it under Wine with
# tracing switched on (see scripts/demo.py). Usage: run-main.sh [--gui]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
bash "$ROOT/scripts/prepare.sh" host win32 win64
exec python3 "$ROOT/scripts/demo.py" --build "$ROOT/build" "$@"
