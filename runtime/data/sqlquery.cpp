#include "data/sqlquery.h"

#include "data/dberrors.h"
#include "data/sqlparams.h"

#include <atomic>

namespace {
// Defined here, not inline in the header, so the host and every loaded package share one.
std::atomic<long> statementCount{0};
} // namespace

long StatementCounter::Count() { return statementCount.load(); }
void StatementCounter::Reset() { statementCount.store(0); }
void StatementCounter::Increment() { ++statementCount; }

void TSQLQuery::SetSQL(const std::string &sql)
{
    CheckInactive();
    TParams parsed;
    parsed.ParseSQL(sql);
    for (int i = 0; i < parsed.Count(); ++i) {
        TParam *p = parsed.Items(i);
        if (const TParam *old = params_.FindParam(p->Name)) {
            const std::string name = p->Name;  // the new statement's spelling
            *p = *old;
            p->Name = name;
        }
    }
    sql_ = sql;
    params_ = std::move(parsed);
}

void TSQLQuery::SetSession(DatabaseSession *session)
{
    CheckInactive();
    session_ = session;
}

NamedValues TSQLQuery::Values() const
{
    if (!session_)
        throw EDatabaseError(Prefix() + "Consulta sem sessão de banco de dados.");
    NamedValues values;
    for (const std::string &name : ParamNames(sql_))
        values.emplace_back(name, params_.ParamByName(name)->AsVariant());
    return values;
}

ResultSet TSQLQuery::InternalOpen()
{
    const NamedValues values = Values();
    if (CountStatements)
        StatementCounter::Increment();
    return session_->Query(sql_, values);
}

void TSQLQuery::InternalOpenRows(RowReceiver &rows)
{
    const NamedValues values = Values();
    if (CountStatements)
        StatementCounter::Increment();
    session_->QueryRows(sql_, values, rows);
}
