#!/usr/bin/env bash
# Installs what the project needs, builds it and runs the host with the screen
# on the embedded demo database (headless: it prints the screen's controls).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
exec ./build/bin/fishost "$@"
