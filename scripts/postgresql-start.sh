#!/usr/bin/env bash
# Starts the distribution's PostgreSQL cluster on 127.0.0.1 without systemd
# and waits until it answers. Safe to run again: exits 0 at once when the
# server already answers on the port. Creates the cluster when it is missing.
#
# Environment (all optional):
#   FIS_PG_PORT            TCP port (5432)
#   FIS_PG_CLUSTER         cluster name (main); the newest installed version
#   FIS_PG_START_TIMEOUT   seconds to wait for the server to answer (60)
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    exec sudo -n --preserve-env=FIS_PG_PORT,FIS_PG_CLUSTER,FIS_PG_START_TIMEOUT "$0" "$@"
  fi
  echo "postgresql-start: must run as root (it configures the cluster and runs it as user postgres)" >&2
  exit 1
fi

mkdir -p /run/lock
# The server started below must not inherit the lock (9>&- on each start).
exec 9>/run/lock/fis-postgresql.lock
flock -w 120 9 || { echo "postgresql-start: another start is still running" >&2; exit 1; }

PORT=${FIS_PG_PORT:-5432}
CLUSTER=${FIS_PG_CLUSTER:-main}
TIMEOUT=${FIS_PG_START_TIMEOUT:-60}

case "$PORT" in ''|*[!0-9]*) echo "postgresql-start: FIS_PG_PORT must be a number, got '$PORT'" >&2; exit 1 ;; esac
case "$TIMEOUT" in ''|*[!0-9]*) echo "postgresql-start: FIS_PG_START_TIMEOUT must be whole seconds, got '$TIMEOUT'" >&2; exit 1 ;; esac
[[ $CLUSTER =~ ^[A-Za-z0-9_-]+$ ]] || { echo "postgresql-start: FIS_PG_CLUSTER must be a plain name, got '$CLUSTER'" >&2; exit 1; }
command -v pg_ctlcluster >/dev/null 2>&1 ||
  { echo "postgresql-start: pg_ctlcluster is missing; run scripts/install-deps.sh first" >&2; exit 1; }

VERSION=$(ls /usr/lib/postgresql 2>/dev/null | sort -V | tail -n 1)
[ -n "$VERSION" ] && [ -x "/usr/lib/postgresql/$VERSION/bin/postgres" ] ||
  { echo "postgresql-start: no PostgreSQL server installed; run scripts/install-deps.sh first" >&2; exit 1; }

if ! pg_lsclusters -h | awk -v v="$VERSION" -v c="$CLUSTER" '$1 == v && $2 == c {found = 1} END {exit !found}'; then
  pg_createcluster --encoding UTF8 --locale C.UTF-8 -p "$PORT" "$VERSION" "$CLUSTER" >/dev/null 9>&-
fi

# Our settings live in a file of their own, so the distribution's stay as shipped.
CONF_DIR=/etc/postgresql/$VERSION/$CLUSTER/conf.d
mkdir -p "$CONF_DIR"
wanted=$(printf "listen_addresses = '127.0.0.1'\nport = %s\n" "$PORT")
changed=""
if [ "$(cat "$CONF_DIR/fis.conf" 2>/dev/null)" != "$wanted" ]; then
  printf '%s\n' "$wanted" >"$CONF_DIR/fis.conf"
  changed=yes
fi
# The distribution's own port line would win over conf.d on a restart of an
# older cluster, so it is kept equal.
sed -i -E "s/^[[:space:]]*port[[:space:]]*=.*/port = $PORT/" "/etc/postgresql/$VERSION/$CLUSTER/postgresql.conf"

running() { pg_lsclusters -h | awk -v v="$VERSION" -v c="$CLUSTER" '$1 == v && $2 == c && $4 ~ /^online/ {found = 1} END {exit !found}'; }
answers() { pg_isready -q -h 127.0.0.1 -p "$PORT" -t 2; }

if running; then
  if [ -z "$changed" ] && answers; then
    echo "postgresql-start: server already answering on 127.0.0.1:$PORT"
    exit 0
  fi
  echo "postgresql-start: restarting the cluster (configuration changed or no answer)"
  pg_ctlcluster "$VERSION" "$CLUSTER" restart -m fast 9>&-
else
  pg_ctlcluster "$VERSION" "$CLUSTER" start 9>&-
fi

deadline=$((SECONDS + TIMEOUT))
until answers; do
  if [ $SECONDS -ge $deadline ]; then
    echo "postgresql-start: the server did not answer on 127.0.0.1:$PORT within ${TIMEOUT}s; last lines of its log:" >&2
    tail -n 20 "/var/log/postgresql/postgresql-$VERSION-$CLUSTER.log" >&2 2>/dev/null || true
    exit 1
  fi
  sleep 0.2
done
echo "postgresql-start: server $VERSION/$CLUSTER answering on 127.0.0.1:$PORT"
