#pragma once
// The remote module of the CFOP summary screen: its methods answer data
// packets (data/clientdataset.h) read from the host database. Statements are
// plain SQL that runs on SQLite and Firebird alike.
#include "data/session.h"
#include "rtl/sysutils.h"

#include <functional>
#include <string>
#include <vector>

// A call the module cannot take (unknown method, wrong number of arguments).
class ECallError : public Exception {
public:
    using Exception::Exception;
};

// Exit series of a company and the entry series (SERIEENTR, not tied to a
// company), columns CDSERIE(5), DSSERIE(20), TIPO(1: "E" entry, "S" exit),
// one row per code and kind, ordered by code then kind.
// An empty registration or series sets no filter. The series filter applies
// to both kinds; the registrations filter the exit series only, and a
// registration filter never matches a series whose registration is NULL.
// An empty company lists no exit series.
ResultSet SeriesRows(DatabaseSession &db, const std::string &company, const std::string &stateRegistration,
                     const std::string &municipalRegistration, const std::string &series);

// The tax-substitute registrations of a company, each with NRINSJURIEST of
// the state registration it substitutes for (NULL when that row is missing),
// columns CDEMPRESA(2), CDINSCESTAST(16), CDINSCESTA(16), NRINSJURIEST(20),
// SGESTADO(2), ordered by CDINSCESTAST. Flag "T" lists all of them, any other
// flag only the one whose CDINSCESTAST is `registration` (none when empty).
ResultSet SubstituteRegistrationRows(DatabaseSession &db, const std::string &registration,
                                     const std::string &company, const std::string &allFlag);

class ResumoModule {
public:
    // Gives the database session on first use (Ping never asks for one).
    using SessionSource = std::function<DatabaseSession &()>;

    static const char *Name();
    // Runs a method and returns its data packet. Raises ECallError for an
    // unknown method or a wrong argument count, EDatabaseError when the
    // database fails.
    static std::string Call(const std::string &method, const std::vector<std::string> &args,
                            const SessionSource &session);
};
