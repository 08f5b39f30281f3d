#pragma once
// Finding the ":NAME" parameter markers of a statement. Markers inside string
// literals, quoted identifiers and comments are not parameters; "::" is not a marker.
// A name is letters, digits and '_', starting with a letter or '_'; any
// non-ASCII character counts as a letter, as SQLite reads it.
#include <string>
#include <vector>

struct ParamMarker {
    std::string name;        // without the colon, as written
    std::size_t offset = 0;  // byte offset of the colon
    std::size_t length = 0;  // bytes of ":NAME"
};

std::vector<ParamMarker> FindParamMarkers(const std::string &sql);
// Distinct names in order of first appearance, compared case-insensitively;
// each keeps its first spelling.
std::vector<std::string> ParamNames(const std::string &sql);

// Parameter and field names compare case-insensitively.
bool SameName(const std::string &a, const std::string &b);

// Position just past the quoted run ('...' or "...") that opens at `i`; a
// doubled quote inside is an escape. The end of the text when it never closes.
std::size_t SkipQuotedRun(const std::string &sql, std::size_t i);
