#include "vdl/ADOIBQuery.h"

#include "data/dberrors.h"
#include "dbgeral/DBGeral.h"
#include "rtl/streaming.h"

#include <algorithm>

// Property names compare by length first.
using namespace std::string_view_literals;

namespace {
TDialect hostDialect() { return dtmDBGeral ? dtmDBGeral->Dialect() : TDialect::Oracle; }
} // namespace

TADOIBQuery::TADOIBQuery(TComponent *owner) : TComponent(owner) {}

std::string TADOIBQuery::ActiveStatementName() const
{
    switch (hostDialect()) {
    case TDialect::Oracle: if (!SQL_ORACLE.empty()) return "SQL_ORACLE"; break;
    case TDialect::MSSQL: if (!SQL_MSSQL.empty()) return "SQL_MSSQL"; break;
    case TDialect::InterBase: if (!SQL_IB.empty()) return "SQL_IB"; break;
    }
    return "SQL";
}

std::string TADOIBQuery::ActiveStatement() const
{
    const std::string which = ActiveStatementName();
    if (which == "SQL_ORACLE") return SQL_ORACLE.Text();
    if (which == "SQL_MSSQL") return SQL_MSSQL.Text();
    if (which == "SQL_IB") return SQL_IB.Text();
    return SQL.Text();
}

void TADOIBQuery::Prepare()
{
    Query.SetName(Name());
    const std::string statement = ActiveStatement();
    if (statement != Query.SQL())
        Query.SetSQL(statement);
    // The SQL Server variants may name their columns differently from the
    // fields (the tax query does): there a field without a column of its name
    // takes the column at its position.
    Query.FieldBinding = hostDialect() == TDialect::MSSQL ? TFieldBinding::ByNameOrPosition : TFieldBinding::ByName;
}

void TADOIBQuery::Open()
{
    if (Query.Active())
        return;
    Prepare();
    if (!dtmDBGeral)
        throw EDatabaseError(Name() + ": nenhum banco de dados conectado.");
    Query.SetSession(dtmDBGeral->Session());
    Query.Open();
}

void TADOIBQuery::Close() { Query.Close(); }

void TADOIBQuery::Reopen(std::initializer_list<QueryArg> args) { reopen(args.begin(), args.size()); }
void TADOIBQuery::Reopen(const std::vector<QueryArg> &args) { reopen(args.data(), args.size()); }

void TADOIBQuery::reopen(const QueryArg *args, std::size_t count)
{
    Close();
    for (std::size_t i = 0; i < count; ++i) {
        TParam *p = ParamByName(args[i].name);
        if (args[i].value)
            p->SetAsString(*args[i].value);
        else
            p->Clear();
    }
    Open();
}

bool TADOIBQuery::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    const std::string &n = p.name;
    // Cursor and connection settings of the original drivers, most of a
    // query's description, go first: every query here is read only and
    // fetched whole.
    if ((n.size() > 3 && n.compare(0, 3, "ADO") == 0 && n != "ADOConnection"sv) || n == "ParamCheck"sv ||
        n == "AutoCalcFields"sv || n == "CachedUpdates"sv || n == "ObjectView"sv || n == "Constraints"sv)
        return true;
    // Descriptions outlive what they build: the lines are not copied.
    if (n == "SQL"sv) SQL = TStrings::Borrowing(PropStrings(p));
    else if (n == "SQL_ORACLE"sv) SQL_ORACLE = TStrings::Borrowing(PropStrings(p));
    else if (n == "SQL_MSSQL"sv) SQL_MSSQL = TStrings::Borrowing(PropStrings(p));
    else if (n == "SQL_IB"sv) SQL_IB = TStrings::Borrowing(PropStrings(p));
    else if (n == "Params"sv) {
        // The declared parameters must be the ones the statement's markers give
        // (dialect variants may name them in another order).
        ctx.Defer(*this, p, [](TComponent &self, const PropertyDesc &prop, LoadContext &) {
            auto &query = static_cast<TADOIBQuery &>(self);
            if (query.preparePending_ || query.Query.SQL().empty())
                query.Prepare();  // the statement's own fixup has not run yet
            // The same names, each once: the markers give distinct names, so
            // equal counts and every declared name among them will do.
            const TParams &parsed = query.Query.Params();
            const std::vector<std::string> &expected = PropStrings(prop);
            bool same = static_cast<std::size_t>(parsed.Count()) == expected.size();
            for (std::size_t i = 0; same && i < expected.size(); ++i) {
                same = std::count(expected.begin(), expected.end(), expected[i]) == 1;
                bool found = false;
                for (int k = 0; same && !found && k < parsed.Count(); ++k)
                    found = parsed.Items(k)->Name == expected[i];
                same = same && found;
            }
            if (!same)
                throw EComponentError(self.Name() + ": os parâmetros declarados não são os do comando.");
        });
    } else if (n == "DataSource"sv) {
        ctx.Defer(*this, p, [](TComponent &self, const PropertyDesc &prop, LoadContext &c) {
            static_cast<TADOIBQuery &>(self).DataSource = c.FindAs<TDataSource>(prop);
        });
    } else if (n == "ADOConnection"sv) ADOConnection = PropString(p);
    else if (n == "DataBase"sv) DataBase = PropString(p);
    else if (n == "Transaction"sv) Transaction = PropString(p);
    else if (n == "Active"sv) {
        if (PropBool(p))
            throw EComponentError(Name() + ": uma consulta não abre ao ser criada.");
    } else return TComponent::SetProperty(p, ctx);
    if (n.rfind("SQL", 0) == 0 && !preparePending_) {
        // Once for all four statements, when they are all set.
        preparePending_ = true;
        ctx.Defer(*this, p, [](TComponent &self, const PropertyDesc &, LoadContext &) {
            auto &query = static_cast<TADOIBQuery &>(self);
            query.preparePending_ = false;
            query.Prepare();
        });
    }
    return true;
}
