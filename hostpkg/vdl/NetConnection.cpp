#include "vdl/NetConnection.h"

#include "hostpkg.h"
#include "net/appserver_client.h"
#include "net/http_connection.h"
#include "rtl/streaming.h"
#include "vcl/widgetset.h"

#include <algorithm>


// Property names compare by length first.
using namespace std::string_view_literals;

namespace {
// The busy cursor while a call waits for the server, and back however the call ends.
class BusyCursor {
public:
    BusyCursor() { WidgetSet().ShowBusy(true); }
    ~BusyCursor() { WidgetSet().ShowBusy(false); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

// The host's call deadline; connecting alone gives up within a second.
AppServerClientTimeouts hostTimeouts()
{
    AppServerClientTimeouts t;
    t.call = std::chrono::milliseconds(HostSettings().serverTimeoutMs);
    t.connect = std::min(t.connect, t.call);
    return t;
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
    // Opening the screen only needs to know the server is there: a kept
    // connection to it answers at once, else the new one is kept for the
    // first call.
    const AppServerClientTimeouts timeouts = hostTimeouts();
    if (!ServerReachable(Host, Port, timeouts.connect))
        return false;
    const std::string &token = HostSettings().serverToken;
    if (!client_ || client_->Host() != Host || client_->Port() != Port || token != token_ ||
        client_->Timeouts().call != timeouts.call) {
        token_ = token;
        client_ = std::make_unique<AppServerClient>(Host, Port, token, timeouts);
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
    BusyCursor busy;
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
