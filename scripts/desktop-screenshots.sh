#!/bin/bash
# Pictures of the desktop host at 1366x768, one per view, into a folder
# (default docs/screenshots): the screen, each list, the ticked lists, the
# report list with an edited layout, the calendar, a message, the save-as
# prompt, the preview at its default zoom with a search, the layout editor (also
# on an 800x600 screen), the import, the company register and the check of a
# filed EFD ICMS/IPI with its report in the preview.
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
# The check of a filed EFD: the demo books' March written as one by fisdemogen,
# checked against those books, its report in the preview.
demogen=${FISDEMOGEN:-./build/bin/fisdemogen}
"$demogen" --out "$saved/demo.sqlite" >/dev/null
"$demogen" --efd "$saved/efd-2026-03.txt" --month 2026-03 --from "$saved/demo.sqlite" \
    --registration 110042490114 --inject valor >/dev/null
env FISHOST_DATABASE="$saved/demo.sqlite" FISHOST_SHOT_EFD="$saved/efd-2026-03.txt" \
    xvfb-run -a -s "-screen 0 1366x768x24" "$bin" --screenshot "$out/efd.png" --show efd
echo "$out/efd.png"
