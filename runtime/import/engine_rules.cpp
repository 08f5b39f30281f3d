// The only places the import's booking tells engines apart, each one question
// to the engine's descriptor.
#include "import/booking.h"

#include "data/engine.h"

std::string DigitsOnlyCondition(const ImportConnection &db, const std::string &column)
{
    return db.Engine().digitsOnly(column);
}

bool AddsImportTables(const ImportConnection &db) { return db.Engine().addsImportTables; }
