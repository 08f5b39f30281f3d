// The only places the import's booking tells engines apart, each one question.
#include "import/booking.h"

std::string DigitsOnlyCondition(const ImportConnection &db, const std::string &column)
{
    return db.Engine() == "sqlite" ? column + " NOT GLOB '*[^0-9]*' AND " + column + " <> ''"
                                   : column + " SIMILAR TO '[0-9]+'";
}

bool AddsImportTables(const ImportConnection &db) { return db.Engine() == "sqlite"; }
