#pragma once
// Runtime library basics shared by every layer: the text type, the error
// hierarchy and small formatting helpers.
#include <exception>
#include <string>
#include <string_view>
#include <vector>

// Texts are UTF-8 byte strings throughout the system.
using AnsiString = std::string;

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char *what() const noexcept override { return message_.c_str(); }
    const std::string &Message() const noexcept { return message_; }

private:
    std::string message_;
};

// A silent abort: raised after the user was already told what went wrong;
// it ends the user's action without a second message.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
};

class EConvertError : public Exception { using Exception::Exception; };
class EInvalidOperation : public Exception { using Exception::Exception; };
class EComponentError : public Exception { using Exception::Exception; };

[[noreturn]] void Abort();

// Replaces each "%s" in order with the next argument; "%%" stands for "%".
std::string FormatText(const std::string &pattern, const std::vector<std::string> &args);

// What a system error number means, in Portuguese (the C library's own
// text is English): "arquivo ou pasta inexistente", "sem permissão", ...
std::string SystemErrorText(int errorNumber);

std::string TrimRight(const std::string &s);
std::string Trim(const std::string &s);
// Without the spaces and tabs at either end (a header value, a cell's text).
std::string_view TrimBlanks(std::string_view s);
