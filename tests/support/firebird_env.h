#pragma once
// The Firebird server and login the tests use, as scripts/test.sh exports
// them: FIS_FB_HOST, FIS_FB_PORT, FIS_FB_DATABASE (empty: no server to test
// against), FIS_FB_USER and FIS_FB_PASSWORD.
#include "data/firebird/session.h"

#include <cstdlib>
#include <string>

inline std::string EnvOr(const char *name, const char *fallback = "")
{
    const char *v = std::getenv(name);
    return v && *v ? v : fallback;
}

inline FirebirdConnection FirebirdFromEnv()
{
    FirebirdConnection c;
    c.host = EnvOr("FIS_FB_HOST", "127.0.0.1");
    c.port = std::atoi(EnvOr("FIS_FB_PORT", "3050").c_str());
    c.database = EnvOr("FIS_FB_DATABASE");
    c.user = EnvOr("FIS_FB_USER", "FISREAD");
    c.password = EnvOr("FIS_FB_PASSWORD", "fisread");
    return c;
}
