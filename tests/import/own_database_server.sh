#!/usr/bin/env bash
# From an empty server database to the company's CFOP summary, as the README
# tells a person: the setup script makes a database of one's own and prints
# the settings fishost reads; register the company, import its NF-e files,
# print the summary. Skips (77) where the engine's test server is not set.
# usage: own_database_server.sh firebird|postgresql BIN_DIR SOURCE_DIR
set -euo pipefail
engine=$1 bin=$2 src=$3
case "$engine" in
  firebird)
    [ -n "${FIS_FB_DATABASE:-}" ] || { echo "own_database_server: FIS_FB_DATABASE unset, skipped"; exit 77; }
    setup=(env FIS_FB_DATABASE=/var/lib/firebird/3.0/data/fis_own_path.fdb bash "$src/scripts/firebird-create-db.sh" --own) ;;
  postgresql)
    [ -n "${FIS_PG_DATABASE:-}" ] || { echo "own_database_server: FIS_PG_DATABASE unset, skipped"; exit 77; }
    setup=(env FIS_PG_DATABASE=fis_own_path bash "$src/scripts/postgresql-create-db.sh" --own) ;;
  *) echo "usage: own_database_server.sh firebird|postgresql BIN_DIR SOURCE_DIR" >&2; exit 2 ;;
esac
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "own_database_server ($engine): $*" >&2; exit 1; }

# Only what the script prints for fishost, nothing from this test's own environment.
unset $(compgen -e | grep '^FISHOST_' || true)
export FISHOST_CONFIG=/nonexistent/fishost.conf
"${setup[@]}" >"$work/setup.txt"
eval "$(grep -E '^  export FISHOST_' "$work/setup.txt")"
[ "${FISHOST_ENGINE:-}" = "$engine" ] || fail "the setup script did not print the engine: $(cat "$work/setup.txt")"
export FISHOST_REPORT_FORMATS=pdf,csv

"$bin/fisdemogen" --nfe "$work/notas" --count 120 >/dev/null
"$bin/fishost" company 01 "Minha Empresa Ltda" 110042490114 SP 12345678000195
"$bin/fishost" import --report "$work/importacao.txt" "$work/notas" >/dev/null
grep -q "Documentos importados: 120" "$work/importacao.txt" || fail "not every document came in: $(cat "$work/importacao.txt")"
"$bin/fishost" script --output "$work/relatorios" "$src/tests/import/own_summary.scn"
csv=$(ls "$work"/relatorios/*.csv)
grep -q "Entradas" "$csv" && grep -q "Saídas" "$csv" || fail "the summary lacks a side: $(cat "$csv")"
"$bin/fishost" import "$work/notas" >"$work/again.txt"
grep -q "Documentos importados: 0" "$work/again.txt" || fail "a second import wrote again"
echo "own_database_server ($engine): passed"
