#!/usr/bin/env bash
# From an empty file to the company's CFOP summary, as the README tells a
# person: name a database that does not exist, register the company, import
# its NF-e files, print the summary.
# usage: own_database.sh BIN_DIR SOURCE_DIR
set -euo pipefail
bin=$1 src=$2
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
export FISHOST_CONFIG=/nonexistent/fishost.conf
export FISHOST_DATABASE=$work/minha-empresa.sqlite FISHOST_REPORT_FORMATS=pdf,csv

"$bin/fisdemogen" --nfe "$work/notas" --count 300 >/dev/null
"$bin/fishost" company --activity C --branch 0001 01 "Minha Empresa Ltda" 110042490114 SP 12345678000195 >"$work/company.txt"
"$bin/fishost" import --report "$work/importacao.txt" "$work/notas" >/dev/null
"$bin/fishost" script --output "$work/relatorios" "$src/tests/import/own_summary.scn"

fail() { echo "own_database: $*" >&2; exit 1; }
[ "$(sqlite3 "$FISHOST_DATABASE" 'SELECT COUNT(*) FROM NOTAFISCAL')" = 300 ] || fail "expected the 300 documents alone"
[ "$(sqlite3 "$FISHOST_DATABASE" "SELECT COUNT(*) FROM EMPRESA")" = 1 ] || fail "demo companies in a database of one's own"
# The activity and the branch are kept; a branch the register lacks is warned about, not refused.
[ "$(sqlite3 "$FISHOST_DATABASE" "SELECT IDATIVIDADE FROM EMPRESAATIVIDADE WHERE CDEMPRESA = '01'")" = C ] ||
  fail "the activity was not kept"
[ "$(sqlite3 "$FISHOST_DATABASE" "SELECT CDFILIAL FROM INSCRESTAD WHERE CDEMPRESA = '01'")" = 0001 ] ||
  fail "the branch was not kept"
grep -q "Aviso: A filial 0001 não está cadastrada" "$work/company.txt" || fail "no warning: $(cat "$work/company.txt")"
grep -q "Documentos importados: 300" "$work/importacao.txt" || fail "the saved result does not say what was imported"
csv=$(ls "$work"/relatorios/*.csv)
# One line per side and CFOP; the summary of a year has both sides.
grep -q "Entradas" "$csv" && grep -q "Saídas" "$csv" || fail "the summary lacks a side: $(cat "$csv")"
# A second import of the same files changes nothing.
"$bin/fishost" import "$work/notas" >"$work/again.txt"
grep -q "Documentos importados: 0" "$work/again.txt" || fail "a second import wrote again"
echo "own_database: passed"
