#!/bin/bash
# Pictures of the desktop host at 1366x768, one per view, into a folder
# (default docs/screenshots): the screen, each list, the ticked lists, the
# report list with an edited layout, the calendar, a message, the save-as
# prompt, the preview at its default zoom with a search, the layout editor (also
# on an 800x600 screen), the import and the company register.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshots}
bin=${FISHOST_QT:-./build/bin/fishost-qt}
mkdir -p "$out"
# The report list is shown with one delivered report edited: a copy of it
# among the person's reports, in a folder of the script's own.
saved=$(mktemp -d)
trap 'rm -rf "$saved"' EXIT
mkdir -p "$saved/FIS028"
cp reports/FIS028/030-relacao-notas.json "$saved/FIS028/"
for view in screen pick taxes tree types models ticked reports calendar message prompt preview editor import company; do
    extra=()
    [ "$view" = reports ] && extra=("FISHOST_SAVED_REPORTS_DIR=$saved")
    [ "$view" = preview ] && extra=("FISHOST_SHOT_FIND=${FISHOST_SHOT_FIND:-5.102}")
    env "${extra[@]}" FISHOST_SHOT_REPORT="${FISHOST_SHOT_REPORT:-Relação de Notas Fiscais}" \
        xvfb-run -a -s "-screen 0 1366x768x24" "$bin" --screenshot "$out/$view.png" --show "$view"
    echo "$out/$view.png"
done
# The layout editor on a small screen: everything in sight, OK and Cancelar too.
env FISHOST_SHOT_REPORT="${FISHOST_SHOT_REPORT:-Relação de Notas Fiscais}" \
    xvfb-run -a -s "-screen 0 800x600x24" "$bin" --screenshot "$out/editor-800x600.png" --show editor
echo "$out/editor-800x600.png"
