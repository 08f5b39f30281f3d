#pragma once
// A data set filled by a parameterised statement run on a DatabaseSession.
#include "data/dataset.h"

// Statements sent by counting queries since start or the last Reset,
// process-wide. Lets tests and diagnostics see how many round trips a screen makes.
class StatementCounter {
public:
    static long Count();
    static void Reset();
    static void Increment();
};

class TSQLQuery : public TDataSet {
public:
    explicit TSQLQuery(TComponent *owner = nullptr) : TDataSet(owner) {}
    explicit TSQLQuery(DatabaseSession *session, TComponent *owner = nullptr) : TDataSet(owner), session_(session) {}
    const char *ClassName() const override { return "TSQLQuery"; }

    const std::string &SQL() const { return sql_; }
    // Re-parses Params; parameters whose names survive keep their values.
    // Raises EDatabaseError while open.
    void SetSQL(const std::string &sql);

    TParams &Params() { return params_; }
    const TParams &Params() const { return params_; }
    TParam *ParamByName(const std::string &name) const { return params_.ParamByName(name); }

    DatabaseSession *Session() const { return session_; }
    void SetSession(DatabaseSession *session);

    // Each Open of a counting query adds one to StatementCounter, counted
    // when the statement is sent (a statement the database refuses still counts).
    bool CountStatements = true;

protected:
    // Values are always bound by name, never pasted into the text.
    ResultSet InternalOpen() override;
    // The rows as the database hands them over, none held twice.
    void InternalOpenRows(RowReceiver &rows) override;

private:
    NamedValues Values() const;

    DatabaseSession *session_ = nullptr;
    std::string sql_;
    TParams params_;
};
