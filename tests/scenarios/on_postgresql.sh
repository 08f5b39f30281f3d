#!/usr/bin/env bash
# Runs every scenario on the PostgreSQL server with the Oracle dialect and the
# compatibility functions of its creation script; skipped (77) when no server
# database is named.
set -euo pipefail
fishost=$1
shift
[ -n "${FIS_PG_DATABASE:-}" ] || exit 77
export FISHOST_DATABASE=$FIS_PG_DATABASE FISHOST_DB_HOST=${FIS_PG_HOST:-127.0.0.1} \
       FISHOST_DB_PORT=${FIS_PG_PORT:-5432} FISHOST_DB_USER=${FIS_PG_USER:-fisread} \
       FISHOST_DB_PASSWORD=${FIS_PG_PASSWORD:-fisread}
exec "$fishost" script --engine postgresql --dialect oracle "$@"
