#!/usr/bin/env bash
# Stops the Firebird server that firebird-start.sh started (and one the
# distribution's init script started). Safe to run when nothing runs.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    exec sudo -n "$0" "$@"
  fi
  echo "firebird-stop: must run as root" >&2
  exit 1
fi

# Start and stop runs must not interleave (CI jobs may call them concurrently).
mkdir -p /run/lock
exec 9>/run/lock/fis-firebird.lock
flock -w 120 9 || { echo "firebird-stop: another start or stop is still running" >&2; exit 1; }

SERVER=/usr/sbin/firebird
PIDFILE=/run/firebird3.0/fis-firebird.pid
INIT_SCRIPT=/etc/init.d/firebird3.0

if start-stop-daemon --status --pidfile "$PIDFILE" --exec "$SERVER" >/dev/null 2>&1; then
  start-stop-daemon --stop --quiet --pidfile "$PIDFILE" --exec "$SERVER" --retry TERM/15/KILL/5
  echo "firebird-stop: server stopped"
else
  echo "firebird-stop: no server started by firebird-start.sh is running"
fi
rm -f "$PIDFILE"

if pidof /usr/sbin/fbguard >/dev/null 2>&1 && [ -x "$INIT_SCRIPT" ]; then
  "$INIT_SCRIPT" stop >/dev/null
  echo "firebird-stop: stopped the server of the init script"
fi

if pidof "$SERVER" >/dev/null 2>&1; then
  echo "firebird-stop: a Firebird server started some other way is still running (pid $(pidof "$SERVER"))" >&2
  exit 1
fi
