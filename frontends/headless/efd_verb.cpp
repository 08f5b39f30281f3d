// fishost efd: the check of filed EFD ICMS/IPI files against the books.
#include "import_verbs.h"

#include "host/hostsession.h"
#include "hostsetup.h"
#include "import/efd_report.h"
#include "rtl/sysutils.h"

#include <cstdio>
#include <ostream>

const char kEfdUsage[] =
    "       fishost efd [--engine E] [--output DIR] FILE...\n"
    "efd checks each filed EFD ICMS/IPI file against itself and against the books of its company and\n"
    "period (read only), and writes the report as PDF, CSV and XLSX into DIR (default: the current folder).\n";

namespace {

std::string brDate(const std::string &iso)
{
    return iso.size() < 10 ? iso : iso.substr(8, 2) + "/" + iso.substr(5, 2) + "/" + iso.substr(0, 4);
}

} // namespace

int RunEfdVerb(const std::vector<std::string> &args, HostConfig config, std::ostream &out, std::ostream &err)
{
    std::vector<std::string> files;
    std::string output = ".";
    try {
        for (std::size_t i = 0; i < args.size(); ++i) {
            HostRunOptions ignored;
            if (args[i] == "--output") {
                if (i + 1 >= args.size())
                    throw Exception("option --output needs a folder");
                output = args[++i];
            } else if (TakeHostOption(args, i, config, ignored)) {
            } else if (!args[i].empty() && args[i][0] == '-') {
                throw Exception("unknown option " + args[i]);
            } else {
                files.push_back(args[i]);
            }
        }
        if (files.empty())
            throw Exception("efd needs at least one file");
    } catch (const std::exception &e) {
        err << "fishost efd: " << e.what() << '\n';
        return kUsageStatus;
    }
    int status = 0;
    std::unique_ptr<DatabaseSession> books;
    try {
        books = OpenHostSession(config);
    } catch (const std::exception &e) {
        err << "fishost efd: " << e.what() << '\n';
        return 2;
    }
    const std::string reports = config.reportsDir.empty() ? DefaultReportsDir() : config.reportsDir;
    for (const std::string &file : files) {
        try {
            const EfdCheck check = CheckEfdFile(file, books.get());
            const EfdIdentity &id = check.identity;
            char layout[8];
            std::snprintf(layout, sizeof layout, "%03d", id.layout);
            out << file << ": " << (check.company.empty() ? "empresa não cadastrada" : "empresa " + check.company) << " ("
                << id.name << "), período " << brDate(id.from) << " a " << brDate(id.to) << ", leiaute " << layout << ", "
                << check.totals.closingLine << " linhas, " << check.documents << " documentos\n";
            out << "  divergências:";
            for (const char *s : kEfdSections)
                out << ' ' << s << ' ' << check.Count(s) << (s == kEfdSections[3] ? "" : ",");
            out << (check.findings.empty() ? " — nenhuma divergência encontrada\n" : "\n");
            for (const std::string &path : WriteEfdCheckReport(check, reports, output, {"pdf", "csv", "xlsx"}))
                out << "  " << path << '\n';
        } catch (const std::exception &e) {
            err << "fishost efd: " << e.what() << '\n';
            status = 1;
        }
    }
    return status;
}
