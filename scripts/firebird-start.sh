#!/usr/bin/env bash
# Starts the Firebird 3 server on 127.0.0.1 without systemd and waits until it
# answers. Safe to run again: exits 0 at once when the server already answers.
#
# Environment (all optional):
#   FIS_FB_PORT              TCP port (3050)
#   FIS_FB_SYSDBA_PASSWORD   SYSDBA password the project uses (masterkey)
#   FIS_FB_START_TIMEOUT     seconds to wait for the server to answer (60)
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    exec sudo -n --preserve-env=FIS_FB_PORT,FIS_FB_SYSDBA_PASSWORD,FIS_FB_START_TIMEOUT "$0" "$@"
  fi
  echo "firebird-start: must run as root (it edits /etc/firebird and runs the server as user firebird)" >&2
  exit 1
fi

# Start and stop runs must not interleave (CI jobs may call them concurrently).
mkdir -p /run/lock
exec 9>/run/lock/fis-firebird.lock
flock -w 120 9 || { echo "firebird-start: another start or stop is still running" >&2; exit 1; }

PORT=${FIS_FB_PORT:-3050}
SYSDBA_PASSWORD=${FIS_FB_SYSDBA_PASSWORD:-masterkey}
TIMEOUT=${FIS_FB_START_TIMEOUT:-60}

CONF=/etc/firebird/3.0/firebird.conf
SERVER=/usr/sbin/firebird
GUARDIAN=/usr/sbin/fbguard
INIT_SCRIPT=/etc/init.d/firebird3.0
RUN_DIR=/run/firebird3.0
PIDFILE=$RUN_DIR/fis-firebird.pid
SECURITY_DB=/var/lib/firebird/3.0/system/security3.fdb
LOG=/var/log/firebird/firebird3.0.log

case "$PORT" in ''|*[!0-9]*) echo "firebird-start: FIS_FB_PORT must be a number, got '$PORT'" >&2; exit 1 ;; esac
case "$TIMEOUT" in ''|*[!0-9]*) echo "firebird-start: FIS_FB_START_TIMEOUT must be whole seconds, got '$TIMEOUT'" >&2; exit 1 ;; esac
for f in "$CONF" "$SERVER" "$SECURITY_DB"; do
  [ -e "$f" ] || { echo "firebird-start: $f is missing; run scripts/install-deps.sh first" >&2; exit 1; }
done

# Sets "Key = value" as the only uncommented line for Key; prints "changed" when
# the file had to change.
set_conf() {
  local key=$1 value=$2
  if grep -Eq "^[[:space:]]*${key}[[:space:]]*=[[:space:]]*${value}[[:space:]]*$" "$CONF" &&
     [ "$(grep -Ec "^[[:space:]]*${key}[[:space:]]*=" "$CONF")" -eq 1 ]; then
    return 0
  fi
  if grep -Eq "^[[:space:]]*${key}[[:space:]]*=" "$CONF"; then
    # Keep the first uncommented line (rewritten), drop any later duplicates.
    sed -i -E "0,/^[[:space:]]*${key}[[:space:]]*=.*/s//${key} = ${value}/" "$CONF"
    sed -i -E "0,/^${key} = ${value}\$/!{/^[[:space:]]*${key}[[:space:]]*=/d}" "$CONF"
  else
    printf '\n%s = %s\n' "$key" "$value" >>"$CONF"
  fi
  echo changed
}

# Prints "up", "refused" (answers but rejects the SYSDBA login) or "down".
# The client reads ISC_USER/ISC_PASSWORD, which keeps the password off the command line.
probe() {
  local out
  if out=$(ISC_USER=SYSDBA ISC_PASSWORD=$SYSDBA_PASSWORD \
             fbsvcmgr "127.0.0.1/$PORT:service_mgr" info_server_version 2>&1); then
    echo up
  elif grep -qi 'user name and password' <<<"$out"; then
    echo refused
  else
    echo down
  fi
}

ours_running() {
  start-stop-daemon --status --pidfile "$PIDFILE" --exec "$SERVER" >/dev/null 2>&1
}

guardian_running() {
  pidof "$GUARDIAN" >/dev/null 2>&1
}

any_server_running() {
  pidof "$SERVER" >/dev/null 2>&1
}

stop_servers() {
  if ours_running; then
    start-stop-daemon --stop --quiet --pidfile "$PIDFILE" --exec "$SERVER" --retry TERM/15/KILL/5
  fi
  rm -f "$PIDFILE"
  # A server the distribution's init script started (guardian plus server).
  if guardian_running && [ -x "$INIT_SCRIPT" ]; then
    "$INIT_SCRIPT" stop >/dev/null
  fi
  if any_server_running; then
    echo "firebird-start: a Firebird server not started by this script is still running (pid $(pidof "$SERVER")); stop it first" >&2
    exit 1
  fi
}

changed=""
changed+=$(set_conf RemoteBindAddress 127.0.0.1)
if [ "$PORT" != 3050 ] || grep -Eq '^[[:space:]]*RemoteServicePort[[:space:]]*=' "$CONF"; then
  changed+=$(set_conf RemoteServicePort "$PORT")
fi

if any_server_running; then
  state=$(probe)
  if [ -z "$changed" ] && ours_running && [ "$state" = down ]; then
    # Probably still starting up: give it the bounded wait before restarting it.
    deadline=$((SECONDS + TIMEOUT))
    while [ "$state" = down ] && [ $SECONDS -lt $deadline ] && ours_running; do
      sleep 0.2
      state=$(probe)
    done
  fi
  if [ -z "$changed" ] && [ "$state" = up ]; then
    echo "firebird-start: server already answering on 127.0.0.1:$PORT"
    exit 0
  fi
  echo "firebird-start: restarting the server (configuration changed, SYSDBA login refused or no answer)"
  stop_servers
fi

# The server holds the security database open, so the password is set while it is
# down, through the embedded engine, as user firebird so no lock file ends up root-owned.
escaped_password=${SYSDBA_PASSWORD//\'/\'\'}
chown firebird:firebird "$SECURITY_DB"
reset_log=$(mktemp)
trap 'rm -f "$reset_log"' EXIT
if ! printf "create or alter user SYSDBA password '%s' using plugin Srp;\ncommit;\n" "$escaped_password" |
     (cd / && runuser -u firebird -- isql-fb -q -bail -user SYSDBA "$SECURITY_DB") >"$reset_log" 2>&1 ||
   [ -s "$reset_log" ]; then
  echo "firebird-start: could not set the SYSDBA password in $SECURITY_DB:" >&2
  cat "$reset_log" >&2
  exit 1
fi

mkdir -p "$RUN_DIR"
chown firebird:firebird "$RUN_DIR"
chmod 0770 "$RUN_DIR"
start-stop-daemon --start --quiet --background --make-pidfile --pidfile "$PIDFILE" \
  --chuid firebird --exec "$SERVER"

deadline=$((SECONDS + TIMEOUT))
while :; do
  state=$(probe)
  if [ "$state" = up ]; then
    echo "firebird-start: server answering on 127.0.0.1:$PORT (pid $(cat "$PIDFILE"), SYSDBA password set)"
    exit 0
  fi
  if [ "$state" = refused ]; then
    echo "firebird-start: the server refuses the SYSDBA password that was just set" >&2
    exit 1
  fi
  if ! ours_running; then
    echo "firebird-start: the server exited during start-up; last lines of $LOG:" >&2
    tail -n 20 "$LOG" >&2 2>/dev/null || true
    exit 1
  fi
  if [ $SECONDS -ge $deadline ]; then
    echo "firebird-start: the server did not answer on 127.0.0.1:$PORT within ${TIMEOUT}s; last lines of $LOG:" >&2
    tail -n 20 "$LOG" >&2 2>/dev/null || true
    exit 1
  fi
  sleep 0.2
done
