#!/usr/bin/env bash
# (Re)creates the demo database on the local PostgreSQL server from the same
# fixtures as the other engines: the reference data of fixtures/reference.sql,
# the CFOP table of fixtures/cfop.sql, the fiscal documents of
# fixtures/fiscal.sql, the routines of fixtures/postgresql-schema.sql, the CFOP
# summary kept by triggers of fixtures/postgresql-summary.sql and the NF-e
# import's tables of fixtures/import.sql. The objects belong to a role that
# cannot log in; a login that may only read serves the reports, and a login
# of its own the import, which may also write the documents, products,
# companies and the import's tables. Starts the server first when it is not
# running. Safe to run again.
#
# Any login may change its own password, so every run sets the logins'
# passwords again, and `--login-only` (re)sets the logins and their rights on
# the existing database without recreating it (and gives one made before the
# apuração's daily ICMS that table, its documents summed once):
#   FIS_PG_USER=fishost_caixa1 FIS_PG_PASSWORD='...' scripts/postgresql-create-db.sh --login-only
#
# `--own` creates a database of one's own instead: every table and the
# shared reference rows (taxes, CFOP, document models, operation types), no
# demo companies, products or documents; then `fishost company` registers
# one's company. The demo database stays what the tests use.
#
# Environment (all optional):
#   FIS_PG_DATABASE          database name (fis_demo)
#   FIS_PG_PORT              server port (5432)
#   FIS_PG_OWNER             role owning the objects (fis_owner)
#   FIS_PG_OWNER_PASSWORD    when set, the owner may log in with it, for bulk
#                            loads (fisdemogen); unset, it cannot log in
#   FIS_PG_USER              read-only login (fisread)
#   FIS_PG_PASSWORD          its password (fisread)
#   FIS_PG_IMPORT_USER       the import's writing login (fisimport)
#   FIS_PG_IMPORT_PASSWORD   its password (fisimport)
set -euo pipefail

LOGIN_ONLY=0
OWN=0
case "${1:-}" in
  "") ;;
  --login-only) LOGIN_ONLY=1 ;;
  --own) OWN=1 ;;
  *) echo "usage: postgresql-create-db.sh [--login-only | --own]" >&2; exit 2 ;;
esac

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    exec sudo -n --preserve-env=FIS_PG_DATABASE,FIS_PG_PORT,FIS_PG_OWNER,FIS_PG_OWNER_PASSWORD,FIS_PG_USER,FIS_PG_PASSWORD,FIS_PG_IMPORT_USER,FIS_PG_IMPORT_PASSWORD,FIS_PG_CLUSTER,FIS_PG_START_TIMEOUT "$0" "$@"
  fi
  echo "postgresql-create-db: must run as root" >&2
  exit 1
fi

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
FIXTURES=$(cd "$HERE/../fixtures" && pwd)
DATABASE=${FIS_PG_DATABASE:-fis_demo}
PORT=${FIS_PG_PORT:-5432}
OWNER=${FIS_PG_OWNER:-fis_owner}
OWNER_PASSWORD=${FIS_PG_OWNER_PASSWORD:-}
READ_USER=${FIS_PG_USER:-fisread}
READ_PASSWORD=${FIS_PG_PASSWORD:-fisread}
IMPORT_USER=${FIS_PG_IMPORT_USER:-fisimport}
IMPORT_PASSWORD=${FIS_PG_IMPORT_PASSWORD:-fisimport}

# Names go into SQL unquoted, so only plain lower-case identifiers are
# accepted (PostgreSQL folds unquoted names to lower case).
check_name() {
  local variable=$1 name=$2
  if ! [[ $name =~ ^[a-z_][a-z0-9_]{0,62}$ ]]; then
    echo "postgresql-create-db: $variable must be a plain lower-case identifier, got '$name'" >&2
    exit 1
  fi
  case "$name" in postgres|pg_*|public)
    echo "postgresql-create-db: $variable must not be '$name'" >&2; exit 1 ;;
  esac
}
check_name FIS_PG_DATABASE "$DATABASE"
check_name FIS_PG_OWNER "$OWNER"
check_name FIS_PG_USER "$READ_USER"
check_name FIS_PG_IMPORT_USER "$IMPORT_USER"
for pair in "FIS_PG_USER:$READ_PASSWORD" "FIS_PG_IMPORT_USER:$IMPORT_PASSWORD"; do
  [ -n "${pair#*:}" ] || { echo "postgresql-create-db: the password of ${pair%%:*} must not be empty" >&2; exit 1; }
done
if [ "$READ_USER" = "$IMPORT_USER" ] || [ "$READ_USER" = "$OWNER" ] || [ "$IMPORT_USER" = "$OWNER" ]; then
  echo "postgresql-create-db: the owner, the reports' login and the import's must all differ" >&2
  exit 1
fi
for f in reference cfop fiscal postgresql-schema postgresql-summary import; do
  [ -r "$FIXTURES/$f.sql" ] || { echo "postgresql-create-db: $FIXTURES/$f.sql is missing" >&2; exit 1; }
done

FIS_PG_PORT=$PORT "$HERE/postgresql-start.sh" >/dev/null

sql_text() { local s=${1//\'/\'\'}; printf "'%s'" "$s"; }

# psql as the server's superuser over the local socket; any error stops the
# script and fails this one. Passwords travel on stdin, never on a command line.
run_psql() {
  local out
  if ! out=$(cd / && runuser -u postgres -- psql -X -q -v ON_ERROR_STOP=1 -p "$PORT" "$@" 2>&1) ||
     grep -q '^psql:.*ERROR' <<<"$out"; then
    printf '%s\n' "$out" >&2
    return 1
  fi
  [ -z "$out" ] || printf '%s\n' "$out"
}

role_sql() {
  local role=$1 how=$2
  cat <<SQL
DO \$\$ BEGIN
  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = '$role') THEN CREATE ROLE $role; END IF;
END \$\$;
ALTER ROLE $role $how;
SQL
}

# The logins and their rights, (re)set every run. The reports' login reads and
# cannot even start a writing transaction by default; the import's also writes
# documents, products, companies and its own tables.
owner_login() {
  if [ -n "$OWNER_PASSWORD" ]; then echo "LOGIN PASSWORD $(sql_text "$OWNER_PASSWORD")"; else echo "NOLOGIN"; fi
}

login_sql() {
  role_sql "$OWNER" "$(owner_login)"
  role_sql "$READ_USER" "LOGIN PASSWORD $(sql_text "$READ_PASSWORD")"
  role_sql "$IMPORT_USER" "LOGIN PASSWORD $(sql_text "$IMPORT_PASSWORD")"
  cat <<SQL
ALTER ROLE $READ_USER IN DATABASE $DATABASE SET default_transaction_read_only = on;
REVOKE ALL ON DATABASE $DATABASE FROM PUBLIC;
GRANT CONNECT ON DATABASE $DATABASE TO $READ_USER, $IMPORT_USER;
\\connect $DATABASE
REVOKE CREATE ON SCHEMA public FROM PUBLIC;
GRANT USAGE ON SCHEMA public TO $READ_USER, $IMPORT_USER;
GRANT SELECT ON ALL TABLES IN SCHEMA public TO $READ_USER, $IMPORT_USER;
GRANT INSERT, UPDATE, DELETE ON NOTAFISCAL, ITEMNOTAFISC, IMPOSTOITEMNF, PRODUTO, NFECHAVE, NFEIDENTIDADE,
  PRODUTOPARTIC, CFOPCONVERSAO, NFEGRUPOPRODUTO, APURACAOAJUSTE TO $IMPORT_USER;
-- The companies' register ("Empresas", fishost company) keeps and removes
-- companies, their registrations and activities.
GRANT INSERT, UPDATE, DELETE ON EMPRESA, INSCRESTAD, EMPRESAATIVIDADE TO $IMPORT_USER;
-- A database made before the registrations named their branch.
ALTER TABLE INSCRESTAD ADD COLUMN IF NOT EXISTS CDFILIAL VARCHAR(4);
GRANT USAGE, SELECT, UPDATE ON SEQUENCE NOTAFISCAL_SEQ, PRODUTO_SEQ TO $IMPORT_USER;
SQL
}

# A database of one's own keeps of the demo fixtures only the rows every
# company shares; each INSERT is one line.
rows() {
  if [ "$OWN" -eq 1 ]; then
    grep -Ev '^INSERT INTO ' "$1" || true
    grep -E '^INSERT INTO (IMPOSTONFE|IMPOSTO|MODDOCFISC|TIPOOPERAC|CFOP|APURACAOLINHA)[ (]' "$1" || true
  else
    cat "$1"
  fi
}

exists=$(printf "SELECT COUNT(*) FROM pg_database WHERE datname = '%s';\n" "$DATABASE" | run_psql -At -d postgres)
if [ "$LOGIN_ONLY" -eq 1 ]; then
  if [ "$exists" = 0 ]; then
    echo "postgresql-create-db: database $DATABASE does not exist; run without --login-only first" >&2
    exit 1
  fi
  # The keys the database hands out, made by the owner where they lack.
  { echo "SET ROLE $OWNER;"; sed -n '/^-- Keys the database hands out/,$p' "$FIXTURES/postgresql-schema.sql"; } |
    run_psql -d "$DATABASE" >/dev/null
  # One made before the daily ICMS the apuração reads gets it, its documents summed once.
  has_daily=$(echo "SELECT COUNT(*) FROM pg_tables WHERE schemaname = 'public' AND tablename = 'apuracaodia';" |
    run_psql -At -d "$DATABASE")
  # And one made before the books per CST and rate the EFD check reads gets that.
  has_cst_summary=$(echo "SELECT COUNT(*) FROM pg_tables WHERE schemaname = 'public' AND tablename = 'resumocstnf';" |
    run_psql -At -d "$DATABASE")
  block=
  if [ "$has_daily" = 0 ]; then
    block='-- The ICMS of each day, kept per registration, side and CFOP'
  elif [ "$has_cst_summary" = 0 ]; then
    block='-- The books per CST and rate, kept per document and CFOP'
  fi
  if [ -n "$block" ]; then
    {
      echo "SET ROLE $OWNER;"
      echo "SET client_min_messages = warning;"
      echo "BEGIN;"
      sed -n "\|^$block|,\$p" "$FIXTURES/postgresql-summary.sql"
      echo "COMMIT;"
    } | run_psql -d "$DATABASE" >/dev/null
  fi
  # And one made before the identities of documents without a key, which let
  # two imports at once book such a document once.
  has_identity=$(echo "SELECT COUNT(*) FROM pg_tables WHERE schemaname = 'public' AND tablename = 'nfeidentidade';" |
    run_psql -At -d "$DATABASE")
  if [ "$has_identity" = 0 ]; then
    { echo "SET ROLE $OWNER;"; sed -n '/^CREATE TABLE NFEIDENTIDADE (/,/);$/p' "$FIXTURES/import.sql"; } |
      run_psql -d "$DATABASE" >/dev/null
  fi
  login_sql | run_psql -d postgres >/dev/null
else
  {
    role_sql "$OWNER" "$(owner_login)"
    # WITH (FORCE) ends the sessions still using it (tests, a running host).
    echo "DROP DATABASE IF EXISTS $DATABASE WITH (FORCE);"
    # Texts compare and sort by their code points, as on the other engines.
    echo "CREATE DATABASE $DATABASE OWNER $OWNER TEMPLATE template0 ENCODING 'UTF8' LC_COLLATE 'C' LC_CTYPE 'C.UTF-8';"
  } | run_psql -d postgres >/dev/null
  {
    # Everything is made by the owner, so the summary's routines run with its rights.
    echo "SET ROLE $OWNER;"
    echo "SET client_min_messages = warning;"
    echo "BEGIN;"
    for f in reference cfop fiscal postgresql-schema postgresql-summary import; do
      case "$f" in reference|fiscal) rows "$FIXTURES/$f.sql" ;; *) cat "$FIXTURES/$f.sql" ;; esac
      echo
    done
    echo "COMMIT;"
    echo "ANALYZE;"
  } | run_psql -d "$DATABASE" >/dev/null
  login_sql | run_psql -d postgres >/dev/null
fi

# Proves the login works and sees the data through the routines.
check=$(printf "SELECT COUNT(*) FROM CFOP, PARAM(NULL) P WHERE CDCFOP = NVLSTR(P.PARAM, CDCFOP);\n" |
  PGPASSWORD=$READ_PASSWORD psql -X -At -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$PORT" -U "$READ_USER" -d "$DATABASE" 2>&1 |
  tr -dc '0-9') || true
if [ -z "$check" ] || [ "$check" -eq 0 ]; then
  echo "postgresql-create-db: the read-only login could not read the new database" >&2
  exit 1
fi

cat <<EOF
postgresql-create-db: $([ "$LOGIN_ONLY" -eq 1 ] && echo "logins set on" || echo created) $DATABASE (UTF8), $check CFOPs visible to $READ_USER.
fishost reads (the import writes through import_user):
  export FISHOST_ENGINE=postgresql
  export FISHOST_DB_HOST=127.0.0.1
  export FISHOST_DB_PORT=$PORT
  export FISHOST_DATABASE=$DATABASE
  export FISHOST_DB_USER=$READ_USER
  export FISHOST_DB_PASSWORD=$(printf '%q' "$READ_PASSWORD")
  export FISHOST_IMPORT_USER=$IMPORT_USER
  export FISHOST_IMPORT_PASSWORD=$(printf '%q' "$IMPORT_PASSWORD")
The tests read:
  export FIS_PG_HOST=127.0.0.1
  export FIS_PG_PORT=$PORT
  export FIS_PG_DATABASE=$DATABASE
  export FIS_PG_USER=$READ_USER
  export FIS_PG_PASSWORD=$(printf '%q' "$READ_PASSWORD")
  export FIS_PG_IMPORT_USER=$IMPORT_USER
  export FIS_PG_IMPORT_PASSWORD=$(printf '%q' "$IMPORT_PASSWORD")
EOF
