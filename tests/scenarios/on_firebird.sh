#!/usr/bin/env bash
# Runs every scenario on the Firebird server with the InterBase dialect;
# skipped (77) when no server database is named.
set -euo pipefail
fishost=$1
shift
[ -n "${FIS_FB_DATABASE:-}" ] || exit 77
export FISHOST_DATABASE=$FIS_FB_DATABASE FISHOST_DB_HOST=${FIS_FB_HOST:-127.0.0.1} \
       FISHOST_DB_PORT=${FIS_FB_PORT:-3050} FISHOST_DB_USER=${FIS_FB_USER:-FISREAD} \
       FISHOST_DB_PASSWORD=${FIS_FB_PASSWORD:-fisread}
exec "$fishost" script --engine firebird --dialect interbase "$@"
