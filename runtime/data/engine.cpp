#include "data/engine.h"

#include "data/dberrors.h"
#include "data/writer.h"

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

const KeySequence kDocumentNumbers{"NOTAFISCAL_SEQ", "NOTAFISCAL", "CDNOTAFISC", false};
const KeySequence kProductCodes{"PRODUTO_SEQ", "PRODUTO", "CDPRODUTO", true};

const std::vector<const KeySequence *> &KeySequences()
{
    static const std::vector<const KeySequence *> keys{&kDocumentNumbers, &kProductCodes};
    return keys;
}

std::string KeySequence::HighestSql(const DatabaseEngine &engine) const
{
    const std::string c = column;
    if (!text)
        return "SELECT CAST(MAX(" + c + ") AS VARCHAR(20)) FROM " + table;
    return "SELECT CAST(MAX(CAST(" + c + " AS BIGINT)) AS VARCHAR(20)) FROM " + table + " WHERE " + engine.digitsOnly(c);
}

std::string MissingSequenceText(const KeySequence &key, const DatabaseEngine &engine)
{
    return std::string("O banco de dados não tem a sequência ") + key.name + ", que numera " + key.table +
           " (banco criado por uma versão anterior, que o usuário da importação não pode alterar). Peça ao "
           "administrador que rode scripts/" + engine.name + "-create-db.sh --login-only.";
}

void AddMissingSequences(DatabaseWriter &writer, const std::string &countSql)
{
    const int count = writer.Prepare(countSql);
    for (const KeySequence *key : KeySequences()) {
        const auto rows = writer.Select(count, {std::string(key->name)});
        if (!rows.empty() && rows[0][0].value_or("0") != "0")
            continue;
        try {
            writer.Execute(std::string("CREATE SEQUENCE ") + key->name);
        } catch (const EDatabaseError &) {
            // A login without the right: the import says so when it needs one.
        }
    }
}
