#pragma once
// The command line of fisappserver, applied over the host configuration.
#include "appserver.h"
#include "host/hostconfig.h"

#include <string>
#include <vector>

struct ServerLaunch {
    HostConfig config;          // the database to open (read only)
    AppServerSettings settings; // address, port, token, threads
    bool help = false;
};

// Reads the options after the program name:
//   --host ADDR  --port N  --token TEXT  --database PATH  --threads N  --help
// Host, port and token default to server_host (127.0.0.1 when empty),
// server_port and server_token of `config`; --database selects a SQLite file.
// Raises Exception naming the bad option.
ServerLaunch ParseServerArgs(const std::vector<std::string> &args, HostConfig config);
std::string ServerUsage();
