#pragma once
// The screen linked in, built by the host packages on a database session the
// test opens itself: SQLite or a Firebird server, under any dialect. The tests
// drive the queries as the screen's handlers do.
#include "Cli_Fis02800.h"
#include "Pkg_Fis02800.h"
#include "data/dberrors.h"
#include "../support/demo_session.h"
#include "dbgeral/DBGeral.h"
#include "host/hostsession.h"
#include "hostpkg.h"
#include "hostsetup.h"
#include "vcl/headless.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// One engine and the dialect the screen runs on it; the ways the engine
// differs are its hooks (engines.h).
struct DbSetup {
    const char *label;
    const TestEngine &engine;
    TDialect dialect;
};

inline const DbSetup kSqliteOracle{"SqliteOracle", kTestSqlite, TDialect::Oracle};
inline const DbSetup kSqliteInterBase{"SqliteInterBase", kTestSqlite, TDialect::InterBase};
inline const DbSetup kFirebirdInterBase{"FirebirdInterBase", kTestFirebird, TDialect::InterBase};
inline const DbSetup kPostgresqlOracle{"PostgresqlOracle", kTestPostgresql, TDialect::Oracle};
inline const std::vector<DbSetup> kSetups{kSqliteOracle, kSqliteInterBase, kFirebirdInterBase, kPostgresqlOracle};

inline std::ostream &operator<<(std::ostream &os, const DbSetup &s) { return os << s.label; }

// Host packages, data module and screen around a session; torn down in reverse.
class ScreenHost {
public:
    // `session` may be null for tests that only look at the statements.
    ScreenHost(DatabaseSession *session, TDialect dialect, const std::string &sqlitePath = {})
    {
        SetWidgetSet(std::make_unique<HeadlessWidgetSet>());
        HostConfig config;
        config.database = sqlitePath;
        config.serverHost = "127.0.0.1";
        config.serverPort = UnusedLoopbackPort();
        InitializeHostPackages(config, /*connect=*/false);
        Initialize();
        try {
            dtmDBGeral->Attach(session, dialect);
            Application->RunUserAction([] { IniProc(); });
            if (!boStCriado || !frmResumoOficialCfop)
                throw EDatabaseError("the screen did not open");
        } catch (...) {
            tearDown();  // the next test must find the host packages down
            throw;
        }
        screen_ = frmResumoOficialCfop;
    }
    ~ScreenHost() { tearDown(); }
    ScreenHost(const ScreenHost &) = delete;
    ScreenHost &operator=(const ScreenHost &) = delete;

    TfrmResumoOficialCfop &Screen() { return *screen_; }

private:
    static void tearDown()
    {
        for (int i = Application->ComponentCount() - 1; i >= 0; --i)
            if (auto *form = dynamic_cast<TCustomForm *>(Application->Components(i)))
                delete form;
        Finalize();
        FinalizeHostPackages();
    }

    TfrmResumoOficialCfop *screen_ = nullptr;
};

// A fresh demo database and a read-only session on it, or the Firebird demo
// database; then the screen on that session.
class ScreenOnDatabase {
public:
    explicit ScreenOnDatabase(const DbSetup &setup) : demo_(setup.engine)
    {
        host_ = std::make_unique<ScreenHost>(&demo_.Session(), setup.dialect, demo_.Path());
    }
    TfrmResumoOficialCfop &Screen() { return host_->Screen(); }
    DatabaseSession &Session() { return demo_.Session(); }

private:
    DemoSession demo_;
    std::unique_ptr<ScreenHost> host_;  // last: goes before the session it uses
};

// Skips a setup whose engine cannot run here (a server not configured).
#define SKIP_WITHOUT_SERVER(setup)                                                                  \
    do {                                                                                            \
        if (const std::string why = (setup).engine.Unavailable(); !why.empty())                     \
            GTEST_SKIP() << why;                                                                    \
    } while (0)

// A parameter as a handler sets it: a text, or cleared (NULL).
using Arg = QueryArg;
inline Arg Set(const char *name, std::string value) { return {name, std::move(value)}; }
inline Arg Null(const char *name) { return {name, std::nullopt}; }
inline void Reopen(TADOIBQuery &q, const std::vector<Arg> &args) { q.Reopen(args); }

// One field over every row, NULL shown as "(null)".
inline std::vector<std::string> Column(TADOIBQuery &q, const TField &field)
{
    std::vector<std::string> out;
    for (q.Query.First(); !q.Query.Eof(); q.Query.Next())
        out.push_back(field.IsNull() ? "(null)" : field.AsString());
    return out;
}
