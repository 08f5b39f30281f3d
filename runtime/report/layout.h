#pragma once
// A report's layout: what its pages show and how. It lives in the definition
// file under "layout"; the PDF, CSV and spreadsheet writers and the layout
// editor all work from this one model, taken and given back by value.
//
//   "layout": {
//     "page": "A4" | "Letter",              default "A4"
//     "orientation": "portrait" | "landscape",  default "portrait"
//     "parameters": [                       the parameters block, in the user's words
//       {"label": "Empresa", "param": "P_CDEMPRESA",
//        "lookup": "SELECT NMEMPRESA FROM EMPRESA WHERE CDEMPRESA = :P_CDEMPRESA",
//        "header": true},                   also shown in every page header
//       {"label": "CNPJ", "param": "P_CDINSCESTA", "shows": "lookup", "format": "taxid",
//        "lookup": "SELECT NRINSJURIEST FROM INSCRESTAD WHERE ...", "header": true},
//                                           the lookup's answer alone, only for one value
//       {"label": "Inscrição Estadual", "param": "P_CDINSCESTA", "header": "when_set"},
//                                           in the page header only for one value
//       {"label": "Período", "param": "P_DTINICIAL", "to": "P_DTFINAL", "format": "date"},
//       {"label": "Entrada/Saída", "param": "P_IDENTRSAIDOP",
//        "values": {"E": "Entrada", "S": "Saída"}, "all": "Ambos"},
//       {"label": "Tipos de operação", "param": "P_CDTIPOOPER", "format": "list", "all": "Todos"}
//     ],
//     "groups": [                           outermost first; the statement orders by them
//       {"field": "IDENTRSAIDA", "header": "{DSENTRSAIDA}", "footer": "Total das {DSENTRSAIDA}",
//        "caption": "Entrada/Saída"}          the group's column in exports
//     ],
//     "columns": [
//       {"caption": "CFOP", "field": "CDCFOP", "width": 38, "format": "cfop"},
//       {"caption": "Valor Contábil", "field": "VLCONTABIL", "width": 70, "align": "right",
//        "format": "money", "total": "sum"},
//       {"caption": "Quantidade", "field": "QTITEM", "total": "sum", "total_from_group": 1},
//       {"caption": "Média", "expression": "VLSTENTRADA / QTENTRADA", "format": "decimal:4"}
//     ],
//     "summary": {"caption": "Total geral"} | false,
//     "empty": "Nenhum documento fiscal encontrado para os parâmetros informados."
//   }
//
// A parameter entry whose "param" the statement does not declare is left out
// of the block; an entry whose value is empty (or whose all-flag is "T")
// shows its "all" text. "values" maps a raw value to its words; "lookup" runs
// a one-column statement with the parameter and shows "value – name"; "to"
// makes a range "first a last"; "shows": "lookup" makes the lookup's answer
// the whole text (formatted), leaving the entry out when the parameter is
// empty or all or the lookup finds nothing. "header": "when_set" puts the
// entry in the page header only while it holds one value. Templates ({FIELD}) show a field of the
// group's first row, formatted as the column showing that field, or as a
// format after a colon says ({CDCFOP:cfop}).
#include "rtl/json_depth.h"
#include "rtl/sysutils.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

enum class ColumnAlign { Left, Center, Right };
enum class ColumnOverflow { Ellipsis, Wrap };  // too long a text: cut with "…", or wrapped inside its column
enum class ColumnTotal { None, Sum, Count };

// How a value is shown. Money "1.234,56"; quantity "1.234,000"; integer
// "1.234"; decimal:N with N decimals; percent "18,00 %"; cfop "5.102";
// date dd/mm/yyyy; product as the product mask shows a tree code; text as is.
struct ValueFormat {
    // Month: a date shown as its month (01/2026); TaxId: a CNPJ or CPF with its punctuation.
    enum class Kind { Text, Money, Quantity, Integer, Decimal, Percent, Cfop, Date, Product, List, Month, TaxId };
    Kind kind = Kind::Text;
    int decimals = 0;  // for Decimal
    bool operator==(const ValueFormat &) const = default;
};
// "money", "decimal:4", ... ; raises LayoutError for an unknown name.
ValueFormat ParseValueFormat(const std::string &name);
std::string ValueFormatName(const ValueFormat &format);

struct LayoutColumn {
    std::string caption;
    std::string field;       // the result column shown; empty when `expression` gives the value
    std::string expression;  // + - * / ( ), numbers and field names; a division by zero gives 0
    double width = 60;       // points; scaled down together when the page is narrower than their sum
    ColumnAlign align = ColumnAlign::Left;
    ValueFormat format;
    ColumnTotal total = ColumnTotal::None;
    ColumnOverflow overflow = ColumnOverflow::Ellipsis;
    bool visible = true;
    // The outermost group level whose footer shows the total (the summary
    // only at 0): a quantity totalled per product, never across products.
    int totalFromGroup = 0;
    bool operator==(const LayoutColumn &) const = default;
};

struct LayoutGroup {
    std::string field;   // a group lasts while this field keeps its value
    std::string header;  // template of the header band; empty: no header band
    std::string footer;  // template of the footer caption; empty: no footer band
    // The group's column title in exports ("Entrada/Saída"); empty: the
    // caption of the column showing `field`, else "Grupo N".
    std::string caption;
    bool operator==(const LayoutGroup &) const = default;
};

// Whether a parameter entry is repeated in every page header.
enum class ParameterHeader { No, Always, WhenSet };

struct LayoutParameter {
    std::string label;
    std::string param;
    std::string to;      // second parameter of a range; empty for a single value
    ValueFormat format;
    std::map<std::string, std::string> values;
    std::string lookup;  // one-column statement naming the value
    std::string all = "Todos";
    ParameterHeader header = ParameterHeader::No;
    bool lookupOnly = false;  // the text is the lookup's answer, not "value – name"
    bool operator==(const LayoutParameter &) const = default;
};

struct ReportLayout {
    std::string page = "A4";
    bool landscape = false;
    std::vector<LayoutParameter> parameters;
    std::vector<LayoutGroup> groups;
    std::vector<LayoutColumn> columns;
    bool summary = true;
    std::string summaryCaption = "Total geral";
    std::string emptyText = "Nenhum registro encontrado para os parâmetros informados.";
    bool operator==(const ReportLayout &) const = default;
};

// A layout that cannot be used; the message says what and where, in Portuguese.
class LayoutError : public Exception { using Exception::Exception; };

// The deepest nesting of arrays and objects a definition may hold
// (JsonNestingDepth); a real one needs four levels.
constexpr std::size_t kMaxJsonDepth = 64;

// Reads the "layout" object. Raises LayoutError on anything it cannot use:
// not an object, no visible column, an unknown format, alignment or total,
// a column with neither field nor expression (or both), an expression that
// does not parse, a group without a field, a width that is not positive,
// nesting deeper than kMaxJsonDepth.
ReportLayout ParseLayout(const std::string &layoutJson);
// The "layout" object as JSON text; ParseLayout(SerializeLayout(l)) == l.
std::string SerializeLayout(const ReportLayout &layout);
// Checks that every field the layout names (columns, expressions, groups,
// templates) is one of the statement's result columns; raises LayoutError
// naming the first that is not.
void CheckLayoutFields(const ReportLayout &layout, const std::vector<std::string> &resultColumns);
// Every field the layout names, each once, in the order CheckLayoutFields
// looks at them (a layout whose expressions do not parse raises LayoutError).
std::vector<std::string> LayoutFieldNames(const ReportLayout &layout);
