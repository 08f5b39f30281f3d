#pragma once
// The Firebird server the engine-specific tests use (connection loss, the
// server's own failures), from the engine's variables (engine_env.h).
#include "data/firebird/session.h"
#include "engine_env.h"

inline FirebirdConnection FirebirdFromEnv() { return FirebirdConnectionFor(EngineFromEnv(FirebirdEngine())); }
