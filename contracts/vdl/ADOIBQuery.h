#pragma once
// The query component: one statement as plain SQL plus up to three dialect
// variants; it runs the host's dialect's variant when it has one, else SQL.
// Its rows are the data set Query.
#include "data/dataset.h"
#include "data/sqlquery.h"
#include "rtl/strings.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A parameter as a lookup or a check gives it: a text, or cleared (NULL).
struct QueryArg {
    const char *name;
    std::optional<std::string> value;
};

class TADOIBQuery : public TComponent, public TDataSetProvider {
public:
    explicit TADOIBQuery(TComponent *owner);
    const char *ClassName() const override { return "TADOIBQuery"; }

    TSQLQuery Query;

    TStrings SQL;
    TStrings SQL_ORACLE;
    TStrings SQL_MSSQL;
    TStrings SQL_IB;

    // The statement the host's dialect runs (lines joined by '\n').
    std::string ActiveStatement() const;
    // Which text that statement came from: "SQL", "SQL_ORACLE", "SQL_MSSQL" or "SQL_IB".
    std::string ActiveStatementName() const;

    void Open();
    void Close();
    // Close, give the named parameters their values, open: how every lookup
    // and check runs its query, so nothing of an earlier opening is kept. A
    // name the statement lacks raises before anything runs.
    void Reopen(std::initializer_list<QueryArg> args);
    void Reopen(const std::vector<QueryArg> &args);
    bool IsEmpty() const { return Query.IsEmpty(); }
    bool Active() const { return Query.Active(); }
    TParam *ParamByName(const std::string &name) { return Query.ParamByName(name); }
    TParams &Params() { return Query.Params(); }

    TDataSource *DataSource = nullptr;  // the source that exposes it
    // Names of the original's connection objects, kept for reference only:
    // they point into the form description, which outlives the query.
    std::string_view ADOConnection, DataBase, Transaction;

    TDataSet *ProvidedDataSet() override { return &Query; }
    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;

private:
    void reopen(const QueryArg *args, std::size_t count);
    // Follows the host's dialect: picks the statement and how fields bind.
    void Prepare();

    bool preparePending_ = false;
};

// The host's string field.
class TADOIBStringField : public TStringField {
public:
    explicit TADOIBStringField(TComponent *owner) : TStringField(nullptr, {}, 20, owner) {}
    const char *ClassName() const override { return "TADOIBStringField"; }
};
