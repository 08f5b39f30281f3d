#pragma once
// The client side of the application server protocol (net/appserver_protocol.h).
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class HttpConnection;
struct HttpReply;

struct AppServerClientTimeouts {
    // A call's one deadline: connecting, sending and the whole reply (a
    // reconnection included) end within it.
    std::chrono::milliseconds call{10000};
    // Connecting alone gives up sooner: a server that accepts nothing is
    // not there.
    std::chrono::milliseconds connect{1000};
};

// One keep-alive connection to a server, reopened when it breaks, so a call
// after the server came back works without a new object. A client that goes
// away leaves its connection idle for the next one (net/http_connection.h). Calls from several
// threads are serialised; give each busy thread its own client.
//
// Constructing a client makes the process ignore SIGPIPE if it was left at
// the default (a write to a connection the server closed must not kill the
// program).
class AppServerClient {
public:
    AppServerClient(std::string host, int port, std::string token = {},
                    AppServerClientTimeouts timeouts = {});
    ~AppServerClient();
    AppServerClient(const AppServerClient &) = delete;
    AppServerClient &operator=(const AppServerClient &) = delete;

    // Calls a method of the remote module (kResumoServerName unless set with
    // SetServerName) and returns the reply body: a data packet, or an error
    // reply {"error":..} when the method failed (TClientDataSet::SetData
    // raises it). Raises Exception with "Servidor de aplicação indisponível em
    // HOST:PORT." when the server cannot be reached (refused, reset, or no
    // whole reply within the call's deadline), and with a message naming the status when the server refuses the
    // request (bad token, malformed call) or answers something not JSON.
    std::string Call(const std::string &method, const std::vector<std::string> &args);

    // True when the server answers its trivial method, false when it cannot
    // be reached. A refusal (a wrong token) still raises.
    bool Ping();

    void SetServerName(const std::string &name);
    const std::string &Host() const { return host_; }
    int Port() const { return port_; }
    const AppServerClientTimeouts &Timeouts() const { return timeouts_; }

private:
    std::string unavailable() const;
    std::string checkedReply(const std::string &method, HttpReply &res) const;

    std::string host_;
    int port_;
    std::string token_;
    std::string serverName_;
    AppServerClientTimeouts timeouts_;
    std::mutex mutex_;
    std::unique_ptr<HttpConnection> connection_;
};
