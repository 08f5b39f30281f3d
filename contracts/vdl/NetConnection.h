#pragma once
// The connection to the application server, with late-bound calls by name.
#include "rtl/classes.h"

#include <memory>
#include <string>
#include <vector>

class AppServerClient;

class TNetConnection : public TComponent {
public:
    explicit TNetConnection(TComponent *owner);
    ~TNetConnection() override;
    const char *ClassName() const override { return "TNetConnection"; }

    AnsiString ServerName;
    AnsiString Host;
    int Port = 0;
    // With false an unreachable server leaves the connection closed without
    // an error when it is opened; calls still fail with a clear message.
    bool ThrowException = true;
    // Runs before every connection; sets Host and Port afresh.
    TNotifyEvent BeforeConnect;

    bool Connected() const { return connected_; }
    void SetConnected(bool connected);

    // The server's methods, called by name with text arguments in order.
    class Server {
    public:
        explicit Server(TNetConnection &c) : c_(c) {}
        // The reply: a data packet or an error reply. Reconnects when needed;
        // an unreachable server raises "Servidor de aplicação indisponível em HOST:PORT.".
        AnsiString Call(const AnsiString &method, const std::vector<AnsiString> &args);

    private:
        TNetConnection &c_;
    };
    Server &AppServer() { return server_; }

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;

private:
    bool TryConnect();
    AnsiString Unreachable() const;

    bool connected_ = false;
    std::string token_;
    std::unique_ptr<AppServerClient> client_;
    Server server_{*this};
};
