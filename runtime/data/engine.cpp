#include "data/engine.h"

#include "data/dberrors.h"

const DatabaseEngine &SqliteEngine();    // data/sqlite/engine.cpp
const DatabaseEngine &FirebirdEngine();  // data/firebird/engine.cpp
const DatabaseEngine &PostgresqlEngine();  // data/postgresql/engine.cpp

const std::vector<const DatabaseEngine *> &DatabaseEngines()
{
    // The one list of engines; the first is the default.
    static const std::vector<const DatabaseEngine *> engines{&SqliteEngine(), &FirebirdEngine(), &PostgresqlEngine()};
    return engines;
}

const DatabaseEngine &DefaultEngine() { return *DatabaseEngines().front(); }

const DatabaseEngine *FindEngine(const std::string &name)
{
    for (const DatabaseEngine *engine : DatabaseEngines())
        if (name == engine->name)
            return engine;
    return nullptr;
}

const DatabaseEngine &EngineNamed(const std::string &name)
{
    if (const DatabaseEngine *engine = FindEngine(name))
        return *engine;
    throw EDatabaseError("Motor de banco de dados não disponível: '" + name + "'.");
}
