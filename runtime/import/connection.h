#pragma once
// The import's writing connection is the engine's writer (data/writer.h).
// Unlike the report sessions it writes, so on a server it opens the database
// with a login of its own.
#include "data/writer.h"

#include <memory>

struct HostConfig;

using ImportConnection = DatabaseWriter;

// The configured database with its writing login (`import_user` where the
// engine keeps one apart). Raises EDatabaseError.
std::unique_ptr<ImportConnection> OpenImportConnection(const HostConfig &config);
