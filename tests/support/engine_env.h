#pragma once
// A server engine as the tests and benches reach it: the variables named by
// the engine's prefix (scripts/test.sh exports FIS_FB_* for Firebird), the
// reading login FISREAD/fisread and the import's FISIMPORT/fisimport by
// default.
#include "data/engine.h"

#include <cstdlib>
#include <string>

inline std::string EnvOr(const char *name, const char *fallback = "")
{
    const char *v = std::getenv(name);
    return v && *v ? v : fallback;
}

inline std::string EngineVariable(const DatabaseEngine &engine, const char *suffix, const char *fallback = "")
{
    return EnvOr((std::string(engine.variablePrefix) + "_" + suffix).c_str(), fallback);
}

enum class EngineLogin { Reading, Writing };

// Empty database where the variables name none.
inline EngineConnection EngineFromEnv(const DatabaseEngine &engine, EngineLogin login = EngineLogin::Reading)
{
    EngineConnection c;
    c.database = EngineVariable(engine, "DATABASE");
    c.host = EngineVariable(engine, "HOST", "127.0.0.1");
    c.port = std::atoi(EngineVariable(engine, "PORT", "0").c_str());
    const bool writing = login == EngineLogin::Writing;
    c.user = EngineVariable(engine, writing ? "IMPORT_USER" : "USER", writing ? "FISIMPORT" : "FISREAD");
    c.password = EngineVariable(engine, writing ? "IMPORT_PASSWORD" : "PASSWORD", writing ? "fisimport" : "fisread");
    return c;
}

// The benches' database of the engine: FIS_BENCH_FB_DATABASE for FIS_FB.
inline std::string BenchDatabaseVariable(const DatabaseEngine &engine)
{
    std::string prefix = engine.variablePrefix;
    if (prefix.rfind("FIS_", 0) == 0)
        prefix.erase(0, 4);
    return "FIS_BENCH_" + prefix + "_DATABASE";
}
