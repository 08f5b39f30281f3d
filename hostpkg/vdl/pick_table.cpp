#include "vdl/pick_table.h"

#include "data/dberrors.h"

PickTable BuildPickTable(TDataSet &ds, const std::string &keyField)
{
    PickTable t;
    if (!ds.Active())
        return t;
    std::vector<TField *> visible;
    for (TField *f : ds.Fields())
        if (f->Visible) {
            visible.push_back(f);
            t.titles.push_back(f->DisplayName());
        }
    TField *key = keyField.empty() ? (visible.empty() ? nullptr : visible.front()) : ds.FieldByName(keyField);
    const int position = ds.RecNo();
    for (ds.First(); !ds.Eof(); ds.Next()) {
        std::vector<std::string> row;
        for (TField *f : visible)
            row.push_back(f->AsString());
        t.rows.push_back(std::move(row));
        t.keys.push_back(key ? key->AsString() : std::string());
    }
    MoveToRow(ds, position > 0 ? position - 1 : 0);
    return t;
}

void MoveToRow(TDataSet &ds, int row)
{
    if (ds.IsEmpty())
        return;
    ds.First();
    for (int i = 0; i < row && !ds.Eof(); ++i)
        ds.Next();
}
