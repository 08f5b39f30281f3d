#!/usr/bin/env bash
# Installs what the project needs, builds it and runs the host with the screen
# on the embedded demo database: the desktop window when a display is there,
# otherwise the headless host, which prints the screen's controls.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x ./build/bin/fishost-qt ]; then
  exec ./build/bin/fishost-qt "$@"
fi
exec ./build/bin/fishost "$@"
