#pragma once
// The host's data module: the database the screens read, and its dialect.
#include "data/dialect.h"
#include "rtl/classes.h"

#include <memory>
#include <string>

class ActionSession;
class DatabaseSession;
struct HostConfig;

using TDialect = SqlDialect;
TDialect DialectFromName(const std::string &name);  // a name in kSqlDialects; raises EDatabaseError for others
const char *DialectName(TDialect dialect);

class TdtmDBGeral : public TComponent {
public:
    explicit TdtmDBGeral(TComponent *owner);
    ~TdtmDBGeral() override;
    const char *ClassName() const override { return "TdtmDBGeral"; }

    // Opens the configured database (read only) for the given dialect.
    void Connect(const HostConfig &config);
    // Uses a session someone else opened (tests, benchmarks).
    void Attach(DatabaseSession *session, TDialect dialect);
    void Disconnect();

    // The session the screens read through, raises when not connected. Once
    // a call finds the connection lost, the rest of the person's action is
    // refused at once with the same message; the next action tries again.
    DatabaseSession *Session() const;
    bool IsConnected() const { return session_ != nullptr; }
    TDialect Dialect() const { return dialect_; }

private:
    void use(DatabaseSession *session);

    std::unique_ptr<DatabaseSession> owned_;
    DatabaseSession *session_ = nullptr;
    std::unique_ptr<ActionSession> action_;  // over session_
    mutable unsigned long actionSeen_ = 0;   // the person's action it last served
    TDialect dialect_ = TDialect::Oracle;
};

// Created by the host program when it starts.
extern TdtmDBGeral *dtmDBGeral;
