#pragma once
// Errors of the data-access framework: missing parameters and fields,
// refused data packets and every failure the database reports.
#include "rtl/sysutils.h"

#include <string>
#include <utility>

class EDatabaseError : public Exception {
public:
    using Exception::Exception;
    // `message` is for the person; `engineText` keeps the engine's own words
    // for the log.
    EDatabaseError(std::string message, std::string engineText)
        : Exception(std::move(message)), engineText_(std::move(engineText))
    {
    }
    // Empty when the message is the engine's text itself.
    const std::string &EngineText() const noexcept { return engineText_; }

private:
    std::string engineText_;
};

// A statement stopped by DatabaseSession::Interrupt (a person's "Cancelar" or
// a deadline), not by a fault of the database.
class EDatabaseCancelled : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

// The connection to the server broke or the server went away; the session
// connects again on its next call.
class EDatabaseConnectionLost : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

// The database did not answer within the session's deadline; the statement
// was stopped (and a Firebird connection dropped).
class EDatabaseTimeout : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

// Another writer holds or has just written the same key (a unique key, a
// lock conflict, a deadlock): the work may succeed once redone in a new
// transaction, which sees what the other committed.
class EDatabaseConflict : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

// What the person reads for each, and for a statement that would write where
// only reading is allowed (reports and lookups).
inline constexpr const char *kWriteRefusedText =
    "O comando não é uma consulta: relatórios e pesquisas só podem ler dados, nunca alterá-los.";
inline constexpr const char *kConnectionLostText =
    "A conexão com o banco de dados foi perdida. A próxima ação tentará conectar de novo.";
std::string DatabaseTimeoutText(long long milliseconds);
