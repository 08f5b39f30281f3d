#pragma once
// The host packages: base report screen, component library and data module.
// The host program calls these once at start and end.
#include "host/hostconfig.h"

// Registers the packages' component classes, keeps the settings the library
// answers from (product picture, application server) and creates the data
// module, connected to the configured database unless `connect` is false.
void InitializeHostPackages(const HostConfig &config, bool connect = true);
void FinalizeHostPackages();

const HostConfig &HostSettings();
// Changes the settings in place (the server's address once it has started).
HostConfig &MutableHostSettings();
