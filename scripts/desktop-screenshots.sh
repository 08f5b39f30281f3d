#!/bin/bash
# Pictures of the desktop host at 1366x768, one per view, into a folder
# (default docs/screenshots): the screen, each list, the calendar, a message,
# the save-as prompt, the preview at its default zoom and the layout editor.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshots}
bin=${FISHOST_QT:-./build/bin/fishost-qt}
mkdir -p "$out"
for view in screen pick taxes tree types models calendar message prompt preview editor; do
    FISHOST_SHOT_REPORT=${FISHOST_SHOT_REPORT:-Relação de Notas Fiscais} \
        xvfb-run -a -s "-screen 0 1366x768x24" "$bin" --screenshot "$out/$view.png" --show "$view"
    echo "$out/$view.png"
done
