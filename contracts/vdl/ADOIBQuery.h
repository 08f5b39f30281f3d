#pragma once
// The query component: one statement as plain SQL plus up to three dialect
// variants; it runs the host's dialect's variant when it has one, else SQL.
// Its rows are the data set Query.
#include "data/dataset.h"
#include "data/sqlquery.h"
#include "rtl/strings.h"

#include <string>
#include <vector>

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
    bool IsEmpty() const { return Query.IsEmpty(); }
    bool Active() const { return Query.Active(); }
    TParam *ParamByName(const std::string &name) { return Query.ParamByName(name); }
    TParams &Params() { return Query.Params(); }

    TDataSource *DataSource = nullptr;  // the source that exposes it
    std::string ADOConnection, DataBase, Transaction;

    TDataSet *ProvidedDataSet() override { return &Query; }
    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;

private:
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
