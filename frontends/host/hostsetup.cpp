#include "hostsetup.h"

#include "host/hostsession.h"
#include "hostpkg.h"
#include "net/appserver_process.h"
#include "rtl/sysutils.h"
#include "vcl/forms.h"

#include <cstdlib>
#include <filesystem>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int UnusedLoopbackPort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 1;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

bool TakeHostOption(const std::vector<std::string> &args, std::size_t &i, HostConfig &config,
                    HostRunOptions &run)
{
    const std::string &a = args[i];
    auto value = [&]() -> const std::string & {
        if (i + 1 >= args.size())
            throw UsageError("option " + a + " needs a value");
        return args[++i];
    };
    try {
        if (a == "--package")
            run.packagePath = value();
        else if (a == "--engine")
            config.Set("engine", value());
        else if (a == "--dialect")
            config.Set("dialect", value());
        else if (a == "--no-server")
            run.startServer = false;
        else
            return false;
    } catch (const UsageError &) {
        throw;
    } catch (const Exception &e) {
        throw UsageError(e.Message());  // a bad value on the command line
    }
    return true;
}

HostRun::HostRun(HostConfig config, const HostRunOptions &options) : config_(std::move(config))
{
    // A database the person names but does not have yet starts empty of demo data.
    CreateConfiguredDatabase(config_);
    if (EngineNamed(config_.engine).localFile && config_.database.empty() && options.freshDemoDatabase) {
        demo_ = std::make_unique<TemporaryDemoDatabase>();
        config_.database = demo_->Path();
    }
    if (options.temporaryReportOutput) {
        auto temporaryFolder = [this](const char *name) {
            // The process in the name lets a later run remove what a killed one left.
            std::string pattern = (std::filesystem::temp_directory_path() /
                                   (std::string(name) + "-" + std::to_string(::getpid()) + "-XXXXXX"))
                                      .string();
            if (!::mkdtemp(pattern.data()))
                throw Exception("Não foi possível criar uma pasta temporária para os relatórios.");
            temporaryFolders_.push_back(pattern);
            return pattern;
        };
        if (config_.reportOutputDir.empty())
            config_.reportOutputDir = temporaryFolder("fishost-run");
        // Reports saved during the run are the run's own too, and a run
        // that keeps nothing prints nothing.
        if (config_.savedReportsDir.empty())
            config_.savedReportsDir = temporaryFolder("fishost-saved");
        config_.printCommand.clear();
    }
    if (config_.serverHost.empty()) {
        if (options.startServer) {
            AppServerProcessOptions so;
            // The server reads the host's database, whatever chose it.
            for (const char *key : {"engine", "database", "db_host", "db_port", "db_user", "db_password"})
                so.environment.emplace_back(HostConfig::EnvironmentName(key), config_.Get(key));
            so.logPath = options.serverLog.empty() ? "/dev/null" : options.serverLog;
            so.token = config_.serverToken;
            server_ = std::make_unique<AppServerProcess>(so);
            config_.serverHost = server_->Host();
            config_.serverPort = server_->Port();
            config_.serverToken = server_->Token();
        } else {
            config_.serverHost = "127.0.0.1";
            config_.serverPort = UnusedLoopbackPort();
        }
    }
    InitializeHostPackages(config_);
    packagesUp_ = true;
    package_.Load(options.packagePath.empty() ? PackageLoader::DefaultPath() : options.packagePath);
}

HostRun::~HostRun()
{
    // Screens go before the package that holds their code.
    if (Application) {
        Application->ProcessMessages();
        for (int i = Application->ComponentCount() - 1; i >= 0; --i)
            if (auto *form = dynamic_cast<TCustomForm *>(Application->Components(i)))
                delete form;
    }
    try {
        package_.Unload();
    } catch (...) {
    }
    if (packagesUp_)
        FinalizeHostPackages();
    server_.reset();
    for (const std::string &folder : temporaryFolders_) {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
}
