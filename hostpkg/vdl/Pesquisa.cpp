#include "vdl/Pesquisa.h"

#include "data/dataset.h"
#include "vdl/Consiste.h"
#include "vdl/pick_table.h"

#include <algorithm>
#include <sstream>

namespace {
std::vector<std::string> splitList(const std::string &list)
{
    std::vector<std::string> out;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ','))
        if (!Consiste::EmptyString(item))
            out.push_back(Trim(item));
    return out;
}

// The positions a picture's mask gives, as mask characters ('\0' before a
// literal's character is not needed: literals are stored as themselves).
struct PictureCell {
    char kind;  // '9' digit, 'a' letter or digit, 'l' letter, 'c' any, 0 literal
    char literal;
};

std::vector<PictureCell> pictureCells(const std::string &editMask)
{
    std::vector<PictureCell> cells;
    const std::string mask = editMask.substr(0, editMask.find(';'));
    for (std::size_t i = 0; i < mask.size(); ++i) {
        char m = mask[i];
        switch (m) {
        case '!': case '>': case '<': break;
        case '9': case '0': case '#': cells.push_back({'9', 0}); break;
        case 'a': case 'A': cells.push_back({'a', 0}); break;
        case 'l': case 'L': cells.push_back({'l', 0}); break;
        case 'c': case 'C': cells.push_back({'c', 0}); break;
        case '\\':
            if (i + 1 < mask.size())
                cells.push_back({0, mask[++i]});
            break;
        default: cells.push_back({0, m}); break;
        }
    }
    return cells;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool fitsPicture(const std::string &code, const std::string &editMask)
{
    const auto cells = pictureCells(editMask);
    if (code.size() > cells.size())
        return false;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const auto &cell = cells[i];
        const char c = code[i];
        bool ok = cell.kind == 0    ? c == cell.literal
                  : cell.kind == '9' ? isDigit(c)
                  : cell.kind == 'a' ? isDigit(c) || isAlpha(c)
                  : cell.kind == 'l' ? isAlpha(c)
                                     : true;
        if (!ok)
            return false;
    }
    // A shorter code must end where a segment ends.
    return code.size() == cells.size() || cells[code.size()].kind == 0;
}
} // namespace

bool PesquisaLista(TDataSource *source, const AnsiString &keyField, const AnsiString &titleText, bool,
                   AnsiString &list)
{
    const auto bar = titleText.find('|');
    std::string title = titleText.substr(0, bar);
    std::string emptyText = bar == std::string::npos ? std::string() : titleText.substr(bar + 1);
    TDataSet *ds = source ? source->DataSet : nullptr;
    if (!ds || ds->IsEmpty()) {
        WidgetSet().ShowMessage(emptyText.empty() ? "Nenhum registro encontrado." : emptyText,
                                MessageKind::Information);
        return false;
    }
    PickTable table = BuildPickTable(*ds, keyField);
    const auto current = splitList(list);
    std::vector<int> marked;
    for (std::size_t r = 0; r < table.keys.size(); ++r)
        if (std::find(current.begin(), current.end(), table.keys[r]) != current.end())
            marked.push_back(static_cast<int>(r));
    auto chosen = WidgetSet().PickRows(title.empty() ? "Pesquisar" : title, table, marked);
    if (!chosen)
        return false;
    std::vector<int> rows = *chosen;
    std::sort(rows.begin(), rows.end());
    std::string result;
    for (int r : rows) {
        if (!result.empty())
            result += ',';
        result += table.keys[static_cast<std::size_t>(r)];
    }
    list = result;
    return true;
}

bool ValidEx(TDataSource *source, TPictType type, AnsiString &code, const TValidOptions &options,
             const AnsiString &fieldName, bool showMessage)
{
    const std::string picture = Vendral::DBPict(type);
    if (Consiste::EmptyString(code)) {
        if (options.count(voObrigatorio)) {
            if (showMessage)
                Consiste::MensErro("Código deve ser informado.", true);
            return false;
        }
        return true;
    }
    if (!fitsPicture(code, picture)) {
        if (showMessage)
            Consiste::MensErro("Código '" + code + "' não confere com a máscara " +
                                   picture.substr(0, picture.find(';')) + ".",
                               true);
        return false;
    }
    if (options.count(voExiste) || options.count(voPosiciona)) {
        TDataSet *ds = source ? source->DataSet : nullptr;
        if (!ds || !ds->Active())
            return false;
        const int position = ds->RecNo();
        const bool found = ds->Locate(fieldName.empty() ? ds->Fields().front()->FieldName : fieldName, code);
        if (!options.count(voPosiciona))
            MoveToRow(*ds, position > 0 ? position - 1 : 0);
        if (!found && options.count(voExiste)) {
            if (showMessage)
                Consiste::MensErro("Código '" + code + "' não cadastrado.", true);
            return false;
        }
    }
    return true;
}

void ActiveShowAvi(TForm *, TShowAvi) { WidgetSet().ShowBusy(true); }
void DeactiveShowAvi() { WidgetSet().ShowBusy(false); }
