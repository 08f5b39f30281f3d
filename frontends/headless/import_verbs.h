#pragma once
// fishost's verbs around the person's own documents: `import` reads NF-e
// files into the configured database, `company` registers the company and
// state registration they belong to.
#include "host/hostconfig.h"

#include <iosfwd>
#include <string>
#include <vector>

extern const char kImportUsage[];
extern const char kEfdUsage[];

// args: what follows the verb. Returns the exit status: 0 done, 1 something
// was refused, 3 the import could not run (a database that cannot be used).
// A command line that is wrong returns kUsageStatus: the caller shows the
// usage text and exits with 2.
inline constexpr int kUsageStatus = 64;
int RunImportVerb(const std::vector<std::string> &args, HostConfig config, std::ostream &out, std::ostream &err);
int RunCompanyVerb(const std::vector<std::string> &args, HostConfig config, std::ostream &out, std::ostream &err);
// efd: 0 when every file was checked (whatever it found), 1 when one could
// not be read, 2 a database that cannot be used, kUsageStatus as above.
int RunEfdVerb(const std::vector<std::string> &args, HostConfig config, std::ostream &out, std::ostream &err);
