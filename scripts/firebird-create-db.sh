#!/usr/bin/env bash
# (Re)creates the demo database on the local Firebird server: the reference data
# of fixtures/reference.sql, the CFOP table of fixtures/cfop.sql, the fiscal
# documents of fixtures/fiscal.sql, the
# routines of fixtures/firebird-schema.sql, the CFOP summary kept by triggers of
# fixtures/firebird-summary.sql, the NF-e import's tables of fixtures/import.sql,
# a login that may only read (SELECT on every table, EXECUTE on PARAM,
# NVLSTR and DIASEGUINTE) for the reports, and a login of its own for the
# import, which may also write the documents, products, companies and the
# import's tables. Starts the server first when it is not running. Safe to run
# again.
#
# Any Firebird login may change its own password, so a login shared by several
# hosts can be locked for all of them by one. Every run therefore sets the
# login's password again, and `--login-only` gives a host a login of its own on
# the existing database without recreating it (and adds the import's tables
# to a database made before them):
#   FIS_FB_USER=FISHOST_CAIXA1 FIS_FB_PASSWORD='...' scripts/firebird-create-db.sh --login-only
#
# `--own` creates a database of one's own instead: every table and the
# shared reference rows (taxes, CFOP, document models, operation types), no
# demo companies, products or documents; then `fishost company` registers
# one's company. The demo database stays what the tests use.
#
# Environment (all optional):
#   FIS_FB_DATABASE          database file (/var/lib/firebird/3.0/data/fis_demo.fdb)
#   FIS_FB_PORT              server port (3050)
#   FIS_FB_SYSDBA_PASSWORD   SYSDBA password (masterkey)
#   FIS_FB_USER              read-only login (FISREAD)
#   FIS_FB_PASSWORD          its password (fisread)
#   FIS_FB_IMPORT_USER       the import's writing login (FISIMPORT)
#   FIS_FB_IMPORT_PASSWORD   its password (fisimport)
set -euo pipefail

LOGIN_ONLY=0 OWN=0
case "${1:-}" in
  "") ;;
  --login-only) LOGIN_ONLY=1 ;;
  --own) OWN=1 ;;
  *) echo "usage: firebird-create-db.sh [--login-only | --own]" >&2; exit 2 ;;
esac

if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    exec sudo -n --preserve-env=FIS_FB_DATABASE,FIS_FB_PORT,FIS_FB_SYSDBA_PASSWORD,FIS_FB_USER,FIS_FB_PASSWORD,FIS_FB_IMPORT_USER,FIS_FB_IMPORT_PASSWORD,FIS_FB_START_TIMEOUT "$0" "$@"
  fi
  echo "firebird-create-db: must run as root" >&2
  exit 1
fi

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
FIXTURES=$(cd "$HERE/../fixtures" && pwd)
DATABASE=${FIS_FB_DATABASE:-/var/lib/firebird/3.0/data/fis_demo.fdb}
PORT=${FIS_FB_PORT:-3050}
SYSDBA_PASSWORD=${FIS_FB_SYSDBA_PASSWORD:-masterkey}
READ_USER=${FIS_FB_USER:-FISREAD}
READ_PASSWORD=${FIS_FB_PASSWORD:-fisread}
IMPORT_USER=${FIS_FB_IMPORT_USER:-FISIMPORT}
IMPORT_PASSWORD=${FIS_FB_IMPORT_PASSWORD:-fisimport}

case "$DATABASE" in
  /*) ;;
  *) echo "firebird-create-db: FIS_FB_DATABASE must be an absolute path, got '$DATABASE'" >&2; exit 1 ;;
esac
# The login names go into SQL unquoted, so only plain identifiers are accepted.
check_login() {
  local variable=$1 user=$2 password=$3
  if ! [[ $user =~ ^[A-Za-z][A-Za-z0-9_]{0,30}$ ]]; then
    echo "firebird-create-db: $variable must be a plain identifier, got '$user'" >&2
    exit 1
  fi
  if [ "$(tr '[:lower:]' '[:upper:]' <<<"$user")" = SYSDBA ]; then
    echo "firebird-create-db: $variable must not be SYSDBA" >&2
    exit 1
  fi
  if [ -z "$password" ]; then
    echo "firebird-create-db: the password of $variable must not be empty" >&2
    exit 1
  fi
}
check_login FIS_FB_USER "$READ_USER" "$READ_PASSWORD"
check_login FIS_FB_IMPORT_USER "$IMPORT_USER" "$IMPORT_PASSWORD"
if [ "$(tr '[:lower:]' '[:upper:]' <<<"$READ_USER")" = "$(tr '[:lower:]' '[:upper:]' <<<"$IMPORT_USER")" ]; then
  echo "firebird-create-db: the reports' login and the import's must differ" >&2
  exit 1
fi
for f in "$FIXTURES/reference.sql" "$FIXTURES/cfop.sql" "$FIXTURES/fiscal.sql" "$FIXTURES/firebird-schema.sql" "$FIXTURES/firebird-summary.sql" "$FIXTURES/import.sql"; do
  [ -r "$f" ] || { echo "firebird-create-db: $f is missing" >&2; exit 1; }
done

FIS_FB_PORT=$PORT FIS_FB_SYSDBA_PASSWORD=$SYSDBA_PASSWORD "$HERE/firebird-start.sh"

sql_text() { local s=${1//\'/\'\'}; printf "'%s'" "$s"; }
TARGET="127.0.0.1/$PORT:$DATABASE"
export ISC_USER=SYSDBA ISC_PASSWORD=$SYSDBA_PASSWORD

# Runs isql as SYSDBA on the server with the given script on stdin; any error
# stops it and fails the script.
run_isql() {
  local out
  if ! out=$(isql-fb -q -bail -ch UTF8 "$@" 2>&1) || grep -q 'Statement failed\|SQLSTATE\|Use CONNECT' <<<"$out"; then
    printf '%s\n' "$out" >&2
    return 1
  fi
  [ -z "$out" ] || printf '%s\n' "$out"
}

# A login with its password (re)set and SELECT on every table.
reader_sql() {
  local user=$1 password=$2
  cat <<SQL
CREATE OR ALTER USER $user PASSWORD $(sql_text "$password") USING PLUGIN Srp;
COMMIT;
SET TERM ^ ;
EXECUTE BLOCK AS
  DECLARE name VARCHAR(63);
BEGIN
  FOR SELECT TRIM(RDB\$RELATION_NAME) FROM RDB\$RELATIONS
      WHERE COALESCE(RDB\$SYSTEM_FLAG, 0) = 0
      INTO :name
  DO
    EXECUTE STATEMENT 'GRANT SELECT ON "' || REPLACE(name, '"', '""') || '" TO USER $user';
END^
SET TERM ; ^
COMMIT;
SQL
}

# The logins and their rights: (re)set every run, so a password a login changed
# itself (or a stale one) never outlives the setup. The reports' login reads;
# the import's also writes documents, products, companies and its own tables.
login_sql() {
  reader_sql "$READ_USER" "$READ_PASSWORD"
  cat <<SQL
GRANT EXECUTE ON PROCEDURE PARAM TO USER $READ_USER;
GRANT EXECUTE ON FUNCTION NVLSTR TO USER $READ_USER;
GRANT EXECUTE ON FUNCTION DIASEGUINTE TO USER $READ_USER;
COMMIT;
SQL
  reader_sql "$IMPORT_USER" "$IMPORT_PASSWORD"
  local table
  for table in NOTAFISCAL ITEMNOTAFISC IMPOSTOITEMNF PRODUTO NFECHAVE NFEIDENTIDADE PRODUTOPARTIC CFOPCONVERSAO \
               NFEGRUPOPRODUTO APURACAOAJUSTE; do
    echo "GRANT INSERT, UPDATE, DELETE ON $table TO USER $IMPORT_USER;"
  done
  # The companies' register ("Empresas", fishost company) keeps and removes
  # companies, their registrations and activities.
  for table in EMPRESA INSCRESTAD EMPRESAATIVIDADE; do
    echo "GRANT INSERT, UPDATE, DELETE ON $table TO USER $IMPORT_USER;"
  done
  echo "GRANT USAGE ON SEQUENCE NOTAFISCAL_SEQ TO USER $IMPORT_USER;"
  echo "GRANT USAGE ON SEQUENCE PRODUTO_SEQ TO USER $IMPORT_USER;"
  echo "COMMIT;"
}

if [ "$LOGIN_ONLY" -eq 1 ]; then
  if [ ! -e "$DATABASE" ]; then
    echo "firebird-create-db: $DATABASE does not exist; run without --login-only first" >&2
    exit 1
  fi
  # A database made before the import gets its tables.
  has_import=$(printf "SELECT COUNT(*) FROM RDB\$RELATIONS WHERE RDB\$RELATION_NAME = 'NFECHAVE';\n" |
    run_isql "$TARGET" | tr -dc '0-9')
  # And one made before the kept CFOP summary gets it, its documents summed once.
  has_summary=$(printf "SELECT COUNT(*) FROM RDB\$RELATIONS WHERE RDB\$RELATION_NAME = 'RESUMOCFOPNF';\n" |
    run_isql "$TARGET" | tr -dc '0-9')
  # And one made before the daily ICMS the apuração reads gets that alone.
  has_daily=$(printf "SELECT COUNT(*) FROM RDB\$RELATIONS WHERE RDB\$RELATION_NAME = 'APURACAODIA';\n" |
    run_isql "$TARGET" | tr -dc '0-9')
  # And one made before the books per CST and rate the EFD check reads gets that alone.
  has_cst_summary=$(printf "SELECT COUNT(*) FROM RDB\$RELATIONS WHERE RDB\$RELATION_NAME = 'RESUMOCSTNF';\n" |
    run_isql "$TARGET" | tr -dc '0-9')
  # The routines the statements call, added or replaced as they are now.
  has_routines=$(printf "SELECT COUNT(*) FROM RDB\$FUNCTIONS WHERE RDB\$FUNCTION_NAME = 'DIASEGUINTE';\n" |
    run_isql "$TARGET" | tr -dc '0-9')
  # A tax row's CST and a document's participant CNPJ/CPF and IE, empty on
  # the rows written before them.
  has_cst=$(printf "SELECT COUNT(*) FROM RDB\$RELATION_FIELDS WHERE RDB\$RELATION_NAME = 'IMPOSTOITEMNF' AND RDB\$FIELD_NAME = 'CDCST';\n" |
    run_isql "$TARGET" | tr -dc '0-9')
  {
    # The tables of the apuração's adjustments and the companies' activities.
    for table in APURACAOAJUSTE EMPRESAATIVIDADE APURACAOLINHA; do
      has_table=$(printf "SELECT COUNT(*) FROM RDB\$RELATIONS WHERE RDB\$RELATION_NAME = '%s';\n" "$table" |
        run_isql "$TARGET" | tr -dc '0-9')
      if [ "$has_table" = 0 ]; then
        sed -n "/^CREATE TABLE $table (/,/);\$/p" "$FIXTURES/fiscal.sql"
        echo "COMMIT;"
        [ "$table" = APURACAOLINHA ] && grep "^INSERT INTO APURACAOLINHA " "$FIXTURES/fiscal.sql"
      fi
    done
    # A registration's branch, empty on the rows kept before it.
    has_branch=$(printf "SELECT COUNT(*) FROM RDB\$RELATION_FIELDS WHERE RDB\$RELATION_NAME = 'INSCRESTAD' AND RDB\$FIELD_NAME = 'CDFILIAL';\n" |
      run_isql "$TARGET" | tr -dc '0-9')
    if [ "$has_branch" = 0 ]; then
      echo "ALTER TABLE INSCRESTAD ADD CDFILIAL VARCHAR(4);"
      echo "COMMIT;"
    fi
    if [ "$has_cst" = 0 ]; then
      echo "ALTER TABLE IMPOSTOITEMNF ADD CDCST VARCHAR(4);"
      echo "ALTER TABLE NOTAFISCAL ADD NRDOCPARTIC VARCHAR(14);"
      echo "ALTER TABLE NOTAFISCAL ADD NRIEPARTIC VARCHAR(20);"
      echo "COMMIT;"
    fi
    if [ "$has_routines" = 0 ]; then
      cat "$FIXTURES/firebird-schema.sql"
      echo
    else
      # The keys the database hands out, made where they lack.
      sed -n '/^-- Keys the database hands out/,$p' "$FIXTURES/firebird-schema.sql"
      echo
    fi
    # The codes of the annex its CFOP table lacks; a description someone
    # changed stays.
    echo "ALTER TABLE CFOP ALTER DSCFOP TYPE VARCHAR(400);"
    sed -n "s/^INSERT INTO CFOP VALUES ('\([0-9]*\)', \(.*\));\$/INSERT INTO CFOP SELECT '\1', \2 FROM RDB\$DATABASE WHERE NOT EXISTS (SELECT 1 FROM CFOP WHERE CDCFOP = '\1');/p" \
      "$FIXTURES/cfop.sql"
    echo "COMMIT;"
    if [ "$has_import" = 0 ]; then
      cat "$FIXTURES/import.sql"
      echo
      echo "COMMIT;"
    else
      # The identities of documents without a key, which let two imports at
      # once book such a document once.
      has_identity=$(printf "SELECT COUNT(*) FROM RDB\$RELATIONS WHERE RDB\$RELATION_NAME = 'NFEIDENTIDADE';\n" |
        run_isql "$TARGET" | tr -dc '0-9')
      if [ "$has_identity" = 0 ]; then
        sed -n "/^CREATE TABLE NFEIDENTIDADE (/,/);\$/p" "$FIXTURES/import.sql"
        echo "COMMIT;"
      fi
    fi
    if [ "$has_summary" = 0 ]; then
      cat "$FIXTURES/firebird-summary.sql"
      echo
    elif [ "$has_daily" = 0 ]; then
      sed -n '/^-- The ICMS of each day, kept per registration, side and CFOP/,$p' "$FIXTURES/firebird-summary.sql"
      echo
    elif [ "$has_cst_summary" = 0 ]; then
      sed -n '/^-- The books per CST and rate, kept per document and CFOP/,$p' "$FIXTURES/firebird-summary.sql"
      echo
    fi
    login_sql
  } | run_isql "$TARGET" >/dev/null
else
  # The database directory must belong to the server, which creates the file.
  dir=$(dirname "$DATABASE")
  if [ ! -d "$dir" ]; then
    install -d -o firebird -g firebird -m 0770 "$dir"
  fi

  if [ -e "$DATABASE" ]; then
    # Disconnects every other attachment (tests, a running application) so the
    # drop cannot fail on a database in use.
    if ! gfix -shut single -force 0 "$TARGET" >/dev/null 2>&1; then
      echo "firebird-create-db: note: could not shut $DATABASE down before dropping it" >&2
    fi
    if ! echo "DROP DATABASE;" | run_isql "$TARGET" >/dev/null; then
      echo "firebird-create-db: could not drop the existing $DATABASE (see above)" >&2
      exit 1
    fi
  fi

  echo "CREATE DATABASE $(sql_text "$TARGET") PAGE_SIZE 8192 DEFAULT CHARACTER SET UTF8;" |
    run_isql >/dev/null

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
  {
    rows "$FIXTURES/reference.sql"
    echo
    echo "COMMIT;"
    cat "$FIXTURES/cfop.sql"
    echo
    echo "COMMIT;"
    rows "$FIXTURES/fiscal.sql"
    echo
    echo "COMMIT;"
    cat "$FIXTURES/firebird-schema.sql"
    echo
    cat "$FIXTURES/firebird-summary.sql"
    echo
    cat "$FIXTURES/import.sql"
    echo
    echo "COMMIT;"
    login_sql
  } | run_isql "$TARGET" >/dev/null
fi

# Proves the login works and sees the data through the routines.
check=$(printf "SELECT COUNT(*) FROM CFOP, PARAM(NULL) P WHERE CDCFOP = NVLSTR(P.PARAM, CDCFOP);\n" |
  ISC_USER=$READ_USER ISC_PASSWORD=$READ_PASSWORD run_isql "$TARGET" | tr -dc '0-9')
companies=$(printf "SELECT COUNT(*) FROM EMPRESA;\n" |
  ISC_USER=$READ_USER ISC_PASSWORD=$READ_PASSWORD run_isql "$TARGET" | tr -dc '0-9')
if [ -z "$check" ] || [ "$check" -eq 0 ]; then
  echo "firebird-create-db: the read-only login could not read the new database" >&2
  exit 1
fi

cat <<EOF
firebird-create-db: $([ "$LOGIN_ONLY" -eq 1 ] && echo "login set on" || echo created) $DATABASE (UTF8), $companies companies visible to $READ_USER.
fishost reads (the import writes through import_user):
  export FISHOST_ENGINE=firebird
  export FISHOST_DB_HOST=127.0.0.1
  export FISHOST_DB_PORT=$PORT
  export FISHOST_DATABASE=$(printf '%q' "$DATABASE")
  export FISHOST_DB_USER=$READ_USER
  export FISHOST_DB_PASSWORD=$(printf '%q' "$READ_PASSWORD")
  export FISHOST_IMPORT_USER=$IMPORT_USER
  export FISHOST_IMPORT_PASSWORD=$(printf '%q' "$IMPORT_PASSWORD")
The tests read:
  export FIS_FB_HOST=127.0.0.1 FIS_FB_PORT=$PORT FIS_FB_DATABASE=$(printf '%q' "$DATABASE")
  export FIS_FB_USER=$READ_USER FIS_FB_PASSWORD=$(printf '%q' "$READ_PASSWORD")
  export FIS_FB_IMPORT_USER=$IMPORT_USER FIS_FB_IMPORT_PASSWORD=$(printf '%q' "$IMPORT_PASSWORD")
EOF
