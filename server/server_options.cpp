#include "server_options.h"

#include "data/engine.h"
#include "rtl/sysutils.h"

#include <charconv>

namespace {
int number(const std::string &option, const std::string &value, int min, int max)
{
    int n = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || ec != std::errc() || end != value.data() + value.size() || n < min || n > max)
        throw Exception("Opção " + option + ": esperado um número de " + std::to_string(min) + " a " +
                        std::to_string(max) + ", recebido '" + value + "'.");
    return n;
}
} // namespace

std::string ServerUsage()
{
    return "Uso: fisappserver [--host ENDEREÇO] [--port N] [--token TEXTO] [--database ARQUIVO.sqlite]\n"
           "                  [--threads N] [--lookup-cache-ms N]\n"
           "Lê a configuração do host (FISHOST_CONFIG, variáveis FISHOST_<CHAVE>); as opções a\n"
           "substituem. Escreve \"port N\" na primeira linha da saída quando está pronto.\n";
}

ServerLaunch ParseServerArgs(const std::vector<std::string> &args, HostConfig config)
{
    ServerLaunch launch;
    AppServerSettings &s = launch.settings;
    s.host = config.serverHost.empty() ? "127.0.0.1" : config.serverHost;
    s.port = config.serverPort;
    s.token = config.serverToken;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a == "--help" || a == "-h") {
            launch.help = true;
            continue;
        }
        if (a != "--host" && a != "--port" && a != "--token" && a != "--database" && a != "--threads" &&
            a != "--lookup-cache-ms")
            throw Exception("Opção desconhecida: '" + a + "'.");
        if (i + 1 >= args.size())
            throw Exception("Opção " + a + " sem valor.");
        const std::string &v = args[++i];
        if (a == "--host") {
            if (v.empty())
                throw Exception("Opção --host sem valor.");
            s.host = v;
        } else if (a == "--port")
            s.port = number(a, v, 0, 65535);
        else if (a == "--token")
            s.token = v;
        else if (a == "--threads")
            s.threads = number(a, v, 1, 256);
        else if (a == "--lookup-cache-ms")
            s.lookupCacheTime = std::chrono::milliseconds(number(a, v, 0, 3600000));
        else {
            if (v.empty())
                throw Exception("Opção --database sem valor.");
            config.engine = DefaultEngine().name;
            config.database = v;
        }
    }
    launch.config = std::move(config);
    return launch;
}
