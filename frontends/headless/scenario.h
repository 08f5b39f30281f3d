#pragma once
// Scenario files: a person's actions on the real screen, headless, and what
// must hold afterwards. One command per line; see the README.
#include "host/hostconfig.h"

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

struct ScenarioOptions {
    HostConfig config;         // engine, database, dialect...
    bool startServer = true;
    std::string packagePath;
    // Where report runs write and their files stay (--output); empty: a
    // folder of each run's own, removed with it.
    std::string reportOutputDir;
};

struct ScenarioResult {
    bool passed = false;
    std::vector<std::string> failures;  // "FILE:LINE: ..." lines
    std::vector<std::string> written;   // report files kept in the output folder
};

// A scenario is a regular file of at most kScenarioFileLimit bytes, lines of
// at most kScenarioLineLimit; a longer line fails the run unread.
inline constexpr std::size_t kScenarioFileLimit = std::size_t{16} << 20;
inline constexpr std::size_t kScenarioLineLimit = 64 * 1024;
// Runs one file with a fresh database, server and package.
ScenarioResult RunScenarioFile(const std::string &path, const ScenarioOptions &options);
// Runs scenario text already read (`name` is used in failure lines).
ScenarioResult RunScenarioText(const std::string &name, const std::string &text, const ScenarioOptions &options);

// Splits a line into words; strings in double quotes keep their blanks, with
// \" and \\ as the only escapes. Raises Exception on an unterminated string.
struct ScenarioWord {
    std::string text;
    bool quoted = false;
};
std::vector<ScenarioWord> SplitScenarioLine(const std::string &line);

// The commands and expectations the runner knows, one per line, for --help.
std::string ScenarioHelp();

// Runs every file, prints failures, the report files kept ("FILE: wrote PATH")
// and "N passed, N failed"; returns the exit code.
// Runs the files in turn, first removing what killed runs left behind.
int RunScenarios(const std::vector<std::string> &files, const ScenarioOptions &options, std::ostream &out);
// Removes from `dir` the temporary folders of runs (reports, saved reports,
// demo database; named with their process) whose process no longer runs;
// returns how many.
std::size_t RemoveLeftoverRunFolders(const std::string &dir);
