#include "vdl/NetConnection.h"

#include "hostpkg.h"
#include "net/appserver_client.h"
#include "rtl/streaming.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// Property names compare by length first.
using namespace std::string_view_literals;

namespace {
// Whether something accepts connections at host:port, waiting at most
// `timeoutMs`. Opening the screen only needs to know the server is there;
// the first call opens the connection it talks over.
bool acceptsConnections(const std::string &host, int port, int timeoutMs)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return false;
    bool ok = false;
    for (addrinfo *a = found; a && !ok; a = a->ai_next) {
        int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            ok = true;
        } else if (errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int error = 0;
            socklen_t len = sizeof error;
            ok = ::poll(&p, 1, timeoutMs) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 &&
                 error == 0;
        }
        ::close(fd);
    }
    freeaddrinfo(found);
    return ok;
}
} // namespace

TNetConnection::TNetConnection(TComponent *owner) : TComponent(owner) {}

TNetConnection::~TNetConnection() = default;

AnsiString TNetConnection::Unreachable() const
{
    return "Servidor de aplicação indisponível em " + Host + ":" + std::to_string(Port) + ".";
}

bool TNetConnection::TryConnect()
{
    if (BeforeConnect)
        BeforeConnect(this);
    if (Host.empty() || Port <= 0) {
        client_.reset();
        return false;
    }
    if (!acceptsConnections(Host, Port, 1000))
        return false;
    const std::string &token = HostSettings().serverToken;
    if (!client_ || client_->Host() != Host || client_->Port() != Port || token != token_) {
        token_ = token;
        client_ = std::make_unique<AppServerClient>(Host, Port, token);
        if (!ServerName.empty())
            client_->SetServerName(ServerName);
    }
    return true;
}

void TNetConnection::SetConnected(bool connected)
{
    if (!connected) {
        client_.reset();
        connected_ = false;
        return;
    }
    if (connected_)
        return;
    bool ok = false;
    try {
        ok = TryConnect();
    } catch (const std::exception &) {
        if (ThrowException)
            throw;
    }
    connected_ = ok;
    if (!ok && ThrowException)
        throw Exception(Unreachable());
}

AnsiString TNetConnection::Server::Call(const AnsiString &method, const std::vector<AnsiString> &args)
{
    if (!c_.connected_) {
        // A server absent when the screen opened may be up by now.
        if (!c_.TryConnect())
            throw Exception(c_.Unreachable());
        c_.connected_ = true;
    }
    try {
        return c_.client_->Call(method, args);
    } catch (...) {
        c_.connected_ = false;  // the next call reconnects, asking for the address again
        throw;
    }
}

bool TNetConnection::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    if (p.name == "ServerName"sv) ServerName = PropString(p);
    else if (p.name == "ThrowException"sv) ThrowException = PropBool(p);
    else if (p.name == "Host"sv) Host = PropString(p);
    else if (p.name == "Port"sv) Port = PropInt(p);
    else if (p.name == "BeforeConnect"sv) ctx.BindEvent(*this, p, BeforeConnect);
    else return TComponent::SetProperty(p, ctx);
    return true;
}
