find_package(Threads REQUIRED)
find_package(GTest REQUIRED)

# SOCI ships neither a CMake config nor a pkg-config file on Debian 12.
find_path(SOCI_INCLUDE_DIR soci/soci.h REQUIRED)
find_library(SOCI_CORE_LIBRARY soci_core REQUIRED)
find_library(SOCI_SQLITE3_LIBRARY soci_sqlite3 REQUIRED)
find_path(SQLITE3_INCLUDE_DIR sqlite3.h REQUIRED)
find_library(SQLITE3_LIBRARY sqlite3 REQUIRED)

add_library(soci::core INTERFACE IMPORTED)
set_target_properties(soci::core PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${SOCI_INCLUDE_DIR}"
  INTERFACE_LINK_LIBRARIES "${SOCI_CORE_LIBRARY};${CMAKE_DL_LIBS}")
add_library(soci::sqlite3 INTERFACE IMPORTED)
set_target_properties(soci::sqlite3 PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${SQLITE3_INCLUDE_DIR}"
  INTERFACE_LINK_LIBRARIES "${SOCI_SQLITE3_LIBRARY};${SQLITE3_LIBRARY};soci::core")

# The Firebird backend is built when SOCI's Firebird backend and the client
# headers are there; -DFIS_WITH_FIREBIRD=OFF leaves it out on purpose.
find_library(SOCI_FIREBIRD_LIBRARY soci_firebird)
find_path(FIREBIRD_INCLUDE_DIR ibase.h PATHS /usr/include/firebird)
if(SOCI_FIREBIRD_LIBRARY AND FIREBIRD_INCLUDE_DIR)
  set(FIS_FIREBIRD_FOUND ON)
else()
  set(FIS_FIREBIRD_FOUND OFF)
endif()
option(FIS_WITH_FIREBIRD "Build the Firebird database backend" ${FIS_FIREBIRD_FOUND})
if(FIS_WITH_FIREBIRD)
  if(NOT FIS_FIREBIRD_FOUND)
    message(FATAL_ERROR "FIS_WITH_FIREBIRD is ON but SOCI's Firebird backend (libsoci-firebird) "
                        "or the Firebird client headers (firebird-dev) are missing")
  endif()
  add_library(soci::firebird INTERFACE IMPORTED)
  set_target_properties(soci::firebird PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${FIREBIRD_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES "${SOCI_FIREBIRD_LIBRARY};soci::core")
endif()
# For the few sources that say whether the backend is there; not a definition of
# fis_data's, so the rest of the tree compiles the same either way.
set(FIS_FIREBIRD_DEFINITION $<$<BOOL:${FIS_WITH_FIREBIRD}>:FIS_WITH_FIREBIRD=1>)

# The PostgreSQL backend likewise, from SOCI's PostgreSQL backend and libpq;
# -DFIS_WITH_POSTGRESQL=OFF leaves it out.
find_library(SOCI_POSTGRESQL_LIBRARY soci_postgresql)
find_package(PostgreSQL QUIET)
if(SOCI_POSTGRESQL_LIBRARY AND PostgreSQL_FOUND)
  set(FIS_POSTGRESQL_FOUND ON)
else()
  set(FIS_POSTGRESQL_FOUND OFF)
endif()
option(FIS_WITH_POSTGRESQL "Build the PostgreSQL database backend" ${FIS_POSTGRESQL_FOUND})
if(FIS_WITH_POSTGRESQL)
  if(NOT FIS_POSTGRESQL_FOUND)
    message(FATAL_ERROR "FIS_WITH_POSTGRESQL is ON but SOCI's PostgreSQL backend (libsoci-postgresql) "
                        "or libpq (libpq-dev) is missing")
  endif()
  add_library(soci::postgresql INTERFACE IMPORTED)
  set_target_properties(soci::postgresql PROPERTIES
    INTERFACE_LINK_LIBRARIES "${SOCI_POSTGRESQL_LIBRARY};PostgreSQL::PostgreSQL;soci::core")
endif()
set(FIS_POSTGRESQL_DEFINITION $<$<BOOL:${FIS_WITH_POSTGRESQL}>:FIS_WITH_POSTGRESQL=1>)

find_package(nlohmann_json 3 REQUIRED)
# Unicode normalisation of names the person gives (titles become file names).
find_package(ICU REQUIRED COMPONENTS uc)
# The application server's HTTP core: Beast over Asio, header-only.
find_package(Boost 1.74 REQUIRED)
find_path(HTTPLIB_INCLUDE_DIR httplib.h REQUIRED)
find_library(HTTPLIB_LIBRARY cpp-httplib REQUIRED)
add_library(httplib::httplib INTERFACE IMPORTED)
set_target_properties(httplib::httplib PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${HTTPLIB_INCLUDE_DIR}"
  INTERFACE_LINK_LIBRARIES "${HTTPLIB_LIBRARY};Threads::Threads")

# The desktop front end is optional so the headless build never needs a display stack.
find_package(Qt6 COMPONENTS Widgets PrintSupport Pdf PdfWidgets QUIET)

# PDF pages and the spreadsheet's ZIP container are deflated with zlib.
find_package(PkgConfig REQUIRED)
find_package(ZLIB REQUIRED)

# NF-e import: XML without entity expansion, and ZIP archives.
pkg_check_modules(PUGIXML REQUIRED IMPORTED_TARGET GLOBAL pugixml)
pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET GLOBAL libzip)
