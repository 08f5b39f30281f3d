#!/usr/bin/env bash
# Installs what the project needs, builds it and runs the main job: the desktop
# window on the embedded demo database when a display is there; otherwise a
# short headless demo that fills the screen as a person would, prints the CFOP
# summary of the demo company and says where its files are.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x ./build/bin/fishost-qt ]; then
  exec ./build/bin/fishost-qt "$@"
fi
out=${FIS_DEMO_OUTPUT:-$PWD/build/demo-reports}
mkdir -p "$out"
# A print without a printer: the files stay in $out.
FISHOST_PRINT_COMMAND= FISHOST_REPORT_FORMATS=pdf,csv \
  ./build/bin/fishost script --output "$out" "$@" tests/scenarios/demo.scn | tee "$out/demo.log"
echo
echo "Resumo não Oficial de CFOp da empresa 01 (01/01/2026 a 31/03/2026):"
sed -n 's/^.*: wrote //p' "$out/demo.log" | while read -r file; do
  case "$file" in
    *.pdf) echo "  PDF: $file" ;;
    *.csv) echo "  CSV: $file" ;;
    *) echo "  $file" ;;
  esac
done
