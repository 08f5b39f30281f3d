#pragma once
// fishost's verbs around the person's own documents: `import` reads NF-e
// files into the configured database, `company` registers the company and
// state registration they belong to.
#include "host/hostconfig.h"

#include <iosfwd>
#include <string>
#include <vector>

extern const char kImportUsage[];

// args: what follows the verb. Returns the exit status: 0 done, 1 something
// was refused, 2 a database that cannot be used, kUsageStatus a command line
// that is wrong (the caller shows the usage text, with the status 2).
inline constexpr int kUsageStatus = 64;
int RunImportVerb(const std::vector<std::string> &args, HostConfig config, std::ostream &out, std::ostream &err);
int RunCompanyVerb(const std::vector<std::string> &args, HostConfig config, std::ostream &out, std::ostream &err);
