#!/usr/bin/env bash
# fishost's answers to a wrong command line and to failures past it: the
# usage text comes only with the first, and the message is never buried.
# usage: command_line.sh FISHOST
set -uo pipefail
fishost=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export FISHOST_CONFIG=/nonexistent/fishost.conf
mkdir "$work/folder"
printf 'open\n' >"$work/ok.scn"

failed=0
# expect RC USAGE(yes|no) MESSAGE-PART -- ENV... -- ARGS...
expect() {
    local rc=$1 usage=$2 says=$3
    shift 4  # and the first --
    local env=()
    while [ "$1" != -- ]; do env+=("$1"); shift; done
    shift
    env "${env[@]}" "$fishost" "$@" >"$work/out" 2>"$work/err" </dev/null
    local got=$?
    local shown=no
    grep -q '^usage: fishost' "$work/err" && shown=yes
    if [ "$got" != "$rc" ] || [ "$shown" != "$usage" ] || ! grep -qF -- "$says" "$work/err" "$work/out"; then
        echo "command_line: fishost $* gave rc $got, usage $shown:" >&2
        head -c 600 "$work/err" >&2
        failed=1
    fi
}

expect 2 yes "unknown option --bogus" -- -- --bogus
expect 2 yes "script needs at least one file" -- -- script
expect 2 yes "option --output needs a folder" -- -- script --output
expect 2 yes "engine deve ser" -- -- import --engine oracle "$work/folder"
expect 2 yes "import needs at least one file or folder" -- -- import
expect 2 yes "company needs CODE NAME IE UF" -- -- company 01
expect 2 yes "efd needs at least one file" -- -- efd
# Past the command line: the message alone.
expect 2 no "é uma pasta" -- FISHOST_CONFIG="$work/folder" -- script "$work/ok.scn"
expect 1 no "fishost company: " -- FISHOST_ENGINE=firebird FISHOST_DB_HOST=127.0.0.1 \
    FISHOST_DB_PORT=1 FISHOST_DATABASE=/none.fdb FISHOST_IMPORT_USER=U FISHOST_IMPORT_PASSWORD=P -- company 01 A 110042490114 SP
expect 3 no "fishost import: " -- FISHOST_ENGINE=firebird FISHOST_DB_HOST=127.0.0.1 \
    FISHOST_DB_PORT=1 FISHOST_DATABASE=/none.fdb FISHOST_IMPORT_USER=U FISHOST_IMPORT_PASSWORD=P -- import "$work/folder"
expect 1 no "não é um arquivo comum" -- -- script --no-server /dev/zero
exit $failed
