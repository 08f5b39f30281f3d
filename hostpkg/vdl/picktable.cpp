#include "vdl/picktable.h"

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

namespace {
PickTreeNode &child(std::vector<PickTreeNode> &level, const std::string &key, const std::string &caption)
{
    for (auto &n : level)
        if (n.key == key)
            return n;
    level.push_back({key, caption, -1, {}});
    return level.back();
}
} // namespace

std::vector<PickTreeNode> BuildPickTree(const PickTable &table, const std::vector<std::string> &names, char separator)
{
    std::vector<PickTreeNode> roots;
    for (std::size_t r = 0; r < table.keys.size(); ++r) {
        const std::string &code = table.keys[r];
        std::vector<PickTreeNode> *level = &roots;
        std::size_t start = 0;
        while (true) {
            std::size_t sep = code.find(separator, start);
            std::string prefix = code.substr(0, sep);
            std::string segment = code.substr(start, sep == std::string::npos ? std::string::npos : sep - start);
            if (sep == std::string::npos) {
                std::string caption = segment;
                if (r < names.size() && !names[r].empty())
                    caption += " - " + names[r];
                PickTreeNode &leaf = child(*level, prefix, caption);
                leaf.caption = caption;
                leaf.row = static_cast<int>(r);
                break;
            }
            level = &child(*level, prefix, segment).children;
            start = sep + 1;
        }
    }
    return roots;
}
