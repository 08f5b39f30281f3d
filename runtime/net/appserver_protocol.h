#pragma once
// The application server's wire protocol, shared by the server and its clients.
//
// HTTP/1.1 with JSON bodies in UTF-8, on 127.0.0.1 unless configured otherwise.
// Connections are kept alive; TCP_NODELAY is set on both ends.
//
// A remote call:
//   POST /call
//   Content-Type: application/json
//   Authorization: Bearer TOKEN           (required only when the server has a token)
//   {"server":"FIS02800.rdmCriaResumoNOficialCFOp","method":"GetSerie","args":["01","","",""]}
//
// "server" names the remote module, "method" one of its methods and "args"
// its arguments, every one a JSON string ("" means not informed: the server
// binds it as NULL).
//
// Replies always carry a JSON body (Content-Type: application/json):
//   200  a data packet {"fields":[{"name":..,"type":"string","size":..}],"rows":[[..]]}
//        or an error reply {"error":"TEXT"} when the method itself failed:
//        unknown method, wrong number of arguments, database failure.
//   400  malformed request: body not JSON, missing "server"/"method",
//        "args" not an array of strings.
//   401  token missing or wrong (with WWW-Authenticate: Bearer).
//   404  unknown path, or a "server" this process does not host.
//   405  /call with a method other than POST.
//   413  body above the size limit (64 KiB by default).
//   500  unexpected internal failure; the text does not reveal internals.
// Every non-200 reply is an error reply {"error":"TEXT"}.
//
//   GET /health  ->  200 {"status":"ok","server":"FIS02800.rdmCriaResumoNOficialCFOp"}
//   (no token needed; tells a parent process the server answers).
//
// A server started by a parent process writes exactly one first line on its
// standard output: "port N" once it listens, or "error TEXT" when it cannot
// start (then it exits with a non-zero status).
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace appserver {

inline constexpr const char *kCallPath = "/call";
inline constexpr const char *kHealthPath = "/health";
inline constexpr const char *kJsonType = "application/json";
// The remote module that serves the CFOP summary screen.
inline constexpr const char *kResumoServerName = "FIS02800.rdmCriaResumoNOficialCFOp";
inline constexpr std::size_t kDefaultMaxBodyBytes = 64 * 1024;

struct CallRequest {
    std::string server;
    std::string method;
    std::vector<std::string> args;
};

// The body of a call. Raises Exception when an argument is not valid UTF-8.
std::string BuildCallBody(const CallRequest &call);

// Reads a call body. On failure returns nullopt and sets `error` to a text
// for the caller (in Portuguese, as shown to users).
std::optional<CallRequest> ParseCallBody(const std::string &body, std::string &error);

// "Bearer TOKEN" for the Authorization header.
std::string BearerHeader(const std::string &token);
// The token of an Authorization header value, or nullopt when it is not a
// bearer credential.
std::optional<std::string> BearerToken(const std::string &headerValue);

// Parses the first line a server writes: "port N" gives N; anything else
// (an "error TEXT" line included) gives nullopt.
std::optional<int> ParsePortLine(const std::string &line);

} // namespace appserver
