#include "import_verbs.h"

#include "host/hostsession.h"
#include "hostsetup.h"
#include "import/importer.h"
#include "import/tax_ids.h"
#include "rtl/atomicfile.h"

#include <cctype>
#include <ostream>

const char kImportUsage[] =
    "       fishost import [--engine E] [--report FILE] [--csv FILE] [--accept-homologation]\n"
    "                      [--entry-date exit|issue|YYYY-MM-DD] PATH...\n"
    "       fishost company [--engine E] [--activity I|E|C|S|R] [--branch FILIAL] CODE NAME IE UF [CNPJ]\n"
    "import reads NF-e and NFC-e files (XML, folders, ZIP archives) into the configured database;\n"
    "company registers a company and its state registration, under which documents are imported;\n"
    "--activity is what the company does (I industrial, E energy, C commercial, S services, R rural\n"
    "producer: energy bought gives ICMS credit only to I and E), --branch the branch of the registration.\n"
    "--report saves the result's text, --csv one row per file and outcome. Documents issued in the\n"
    "test environment are refused unless --accept-homologation (for trials). A received document is\n"
    "booked on its exit date, else its issue date (exit); issue books it on its issue date, a day\n"
    "books the whole batch on it.\n"
    "A 'database' SQLite file that does not exist yet is created first, without demo data.\n";

namespace {

// The import writes only where the person keeps the database.
void checkTarget(const HostConfig &config, std::ostream &out)
{
    if (EngineNamed(config.engine).localFile && config.database.empty())
        throw Exception("Nenhum banco de dados configurado: a importação iria para a cópia temporária de "
                        "demonstração e se perderia ao fechar. Configure 'database' (um arquivo SQLite novo é "
                        "criado) em " + HostConfig::DefaultPath() + " ou em FISHOST_DATABASE.");
    if (CreateConfiguredDatabase(config))
        out << "Banco de dados criado: " << config.database << '\n';
    out << "Banco de dados: " << config.database << " (" << config.engine << ")\n";
}

bool takeEngine(const std::vector<std::string> &args, std::size_t &i, HostConfig &config)
{
    HostRunOptions ignored;
    return TakeHostOption(args, i, config, ignored);
}

} // namespace

int RunImportVerb(const std::vector<std::string> &args, HostConfig config, std::ostream &out, std::ostream &err)
{
    std::vector<std::string> paths;
    std::string reportFile, csvFile;
    ImportOptions options;
    try {
        auto value = [&](std::size_t &i, const char *what) -> const std::string & {
            if (i + 1 >= args.size())
                throw UsageError("option " + args[i] + " needs " + what);
            return args[++i];
        };
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--report") {
                reportFile = value(i, "a file");
            } else if (args[i] == "--csv") {
                csvFile = value(i, "a file");
            } else if (args[i] == "--accept-homologation") {
                options.acceptHomologation = true;
            } else if (args[i] == "--entry-date") {
                const std::string &rule = value(i, "exit, issue or a date");
                auto parsed = ParseEntryDate(rule);
                if (!parsed)
                    throw UsageError("--entry-date takes exit, issue or a date (YYYY-MM-DD or DD/MM/YYYY), not '" + rule + "'");
                options.entryDate = *parsed;
            } else if (takeEngine(args, i, config)) {
            } else if (!args[i].empty() && args[i][0] == '-') {
                throw UsageError("unknown option " + args[i]);
            } else {
                paths.push_back(args[i]);
            }
        }
        if (paths.empty())
            throw UsageError("import needs at least one file or folder");
    } catch (const std::exception &e) {
        err << "fishost import: " << e.what() << '\n';
        return kUsageStatus;
    }
    try {
        checkTarget(config, out);
        auto db = OpenImportConnection(config);
        const ImportReport report = ImportFiles(*db, paths, options);
        const std::string text = report.Text();
        out << text;
        if (!reportFile.empty())
            ReplaceFileContents(reportFile, text);
        if (!csvFile.empty())
            ReplaceFileContents(csvFile, report.Csv());
        return report.refused.empty() ? 0 : 1;
    } catch (const std::exception &e) {
        err << "fishost import: " << e.what() << '\n';
        return 3;
    }
}

int RunCompanyVerb(const std::vector<std::string> &args, HostConfig config, std::ostream &out, std::ostream &err)
{
    std::vector<std::string> values;
    std::string activity, branch;
    try {
        auto value = [&](std::size_t &i, const char *what) -> const std::string & {
            if (i + 1 >= args.size())
                throw UsageError("option " + args[i] + " needs " + what);
            return args[++i];
        };
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (takeEngine(args, i, config)) {
            } else if (args[i] == "--activity") {
                activity = value(i, "a letter (I, E, C, S or R)");
            } else if (args[i] == "--branch") {
                branch = value(i, "a branch code");
            } else if (!args[i].empty() && args[i][0] == '-' && args[i].size() > 1 && !std::isdigit(static_cast<unsigned char>(args[i][1]))) {
                throw UsageError("unknown option " + args[i]);
            } else {
                values.push_back(args[i]);
            }
        }
        if (values.size() < 4 || values.size() > 5)
            throw UsageError("company needs CODE NAME IE UF and optionally CNPJ");
    } catch (const std::exception &e) {
        err << "fishost company: " << e.what() << '\n';
        return kUsageStatus;
    }
    try {
        checkTarget(config, out);
        auto db = OpenImportConnection(config);
        const std::string cnpj = values.size() > 4 ? values[4] : "";
        // Asked before the row is written: the branch's facts are the register's.
        const std::string warning = RegistrationWarning(*db, cnpj, values[2], values[3], branch);
        RegisterCompany(*db, {values[0], values[1], values[2], values[3], cnpj, activity, branch});
        out << "Empresa " << values[0] << " – " << values[1] << ": inscrição estadual " << values[2] << "/" << values[3]
            << (branch.empty() ? "" : ", filial " + branch) << " cadastrada.\n";
        if (!activity.empty())
            out << "Atividade: " << ActivityWords(activity) << ".\n";
        // Check digits that fail are told, and the registration kept: the
        // person may be copying a document that is itself wrong.
        if (!warning.empty())
            out << "Aviso: " << warning << " Foi cadastrada como informada; confira o documento.\n";
        return 0;
    } catch (const std::exception &e) {
        err << "fishost company: " << e.what() << '\n';
        return 1;
    }
}
