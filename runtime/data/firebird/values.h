#pragma once
// How values cross between the engine and text: parameter values as the
// server converts them, and column values as every engine reads them. Shared
// by the Firebird session's files only.
#include "data/variant.h"

#include <ibase.h>

#include <optional>
#include <string>

inline int baseType(const XSQLVAR &v) { return v.sqltype & ~1; }
inline bool isText(int type) { return type == SQL_TEXT || type == SQL_VARYING; }
inline bool isInteger(int type) { return type == SQL_SHORT || type == SQL_LONG || type == SQL_INT64; }

// What a column held before its type was changed for reading.
struct FirebirdColumnType {
    int type = 0;
    int scale = 0;
    int charset = 0;  // of text columns
};

// The text a parameter of the given Firebird type receives; the server converts
// it. Raises EDatabaseError for a date text outside the ISO form.
std::string FirebirdParamText(const Variant &v, int type);
// The fetched cell as text, `col` giving the column's type before it was
// changed for reading. Raises EDatabaseError for a type read as none of text,
// number or date.
std::optional<std::string> FirebirdCellText(const XSQLVAR &var, const FirebirdColumnType &col);
// The bytes a fetched value of the variable's type takes.
std::size_t FirebirdBufferSize(const XSQLVAR &var);
