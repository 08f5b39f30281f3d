#pragma once
// Running portable SQL scripts (schema and rows of the demo database).
// A statement ends with ';' at the end of a line; "--" comments are skipped;
// literals and quoted identifiers may hold ';' and "--".
#include "data/session.h"

#include <string>
#include <vector>

std::vector<std::string> SplitSqlScript(const std::string &script);
// Runs each statement in order; returns how many ran. Raises EDatabaseError
// naming the failing statement's number.
int LoadSqlScript(DatabaseSession &session, const std::string &script);
