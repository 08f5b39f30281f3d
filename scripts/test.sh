#!/usr/bin/env bash
# Installs what the project needs, starts the Firebird and PostgreSQL servers
# with their demo databases, builds and runs every test. `--asan` builds and tests the
# AddressSanitizer + UndefinedBehaviorSanitizer preset instead. Last, each
# fuzz target runs for a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."

preset=default
[ "${1:-}" = "--asan" ] && preset=asan

bash scripts/install-deps.sh
bash scripts/firebird-start.sh
bash scripts/firebird-create-db.sh >/dev/null
bash scripts/postgresql-start.sh
bash scripts/postgresql-create-db.sh >/dev/null

# The Firebird suite reads where the server and its read-only login are.
export FIS_FB_HOST=127.0.0.1
export FIS_FB_PORT=${FIS_FB_PORT:-3050}
export FIS_FB_DATABASE=${FIS_FB_DATABASE:-/var/lib/firebird/3.0/data/fis_demo.fdb}
export FIS_FB_USER=${FIS_FB_USER:-FISREAD}
export FIS_FB_PASSWORD=${FIS_FB_PASSWORD:-fisread}
# And the PostgreSQL suite where its server and logins are.
export FIS_PG_HOST=127.0.0.1
export FIS_PG_PORT=${FIS_PG_PORT:-5432}
export FIS_PG_DATABASE=${FIS_PG_DATABASE:-fis_demo}
export FIS_PG_USER=${FIS_PG_USER:-fisread}
export FIS_PG_PASSWORD=${FIS_PG_PASSWORD:-fisread}
export FIS_PG_IMPORT_USER=${FIS_PG_IMPORT_USER:-fisimport}
export FIS_PG_IMPORT_PASSWORD=${FIS_PG_IMPORT_PASSWORD:-fisimport}

cmake --preset "$preset"
cmake --build --preset "$preset"
if ! ctest --preset "$preset"; then
  # The failures' own words again at the end, where a CI log's tail shows them.
  log=build/Testing/Temporary/LastTest.log
  [ "$preset" = asan ] && log=build-asan/Testing/Temporary/LastTest.log
  if [ -f "$log" ]; then
    echo "=== what the failed tests printed ($log) ==="
    awk '/^[0-9]+\/[0-9]+ Testing: /{name=$0; n=0; delete out; keep=0; next}
         /^Output:/{keep=1; next}
         /^<end of output>/{keep=0; next}
         keep && !/^(Running main|Note: Google Test|\[==========\]|\[----------\]|-----)/ {if (n < 40) out[n++]=$0}
         /^Test Failed\./{print name; for (i = 0; i < n; i++) print "    " out[i]}' "$log"
  fi
  exit 1
fi

# A few seconds of fuzzing per target (longer runs: scripts/fuzz.sh 300).
bash scripts/fuzz.sh 5
