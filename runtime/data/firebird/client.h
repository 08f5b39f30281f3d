#pragma once
// Private to the Firebird backend (session.cpp, writer.cpp): what both need of
// SOCI's Firebird objects and of the client library's failures.
#include "data/firebird/session.h"
#include "data/server_calls.h"

#include <soci/firebird/soci-firebird.h>
#include <soci/soci.h>

#include <memory>
#include <mutex>
#include <string>

// The client library's words for a status vector.
std::string FirebirdStatusText(const ISC_STATUS *status);

// A failed call as the deadline's reading takes it.
ServerFailure FirebirdFailureOf(const soci::soci_error &e);

// SOCI's session opened on `connect`, or EDatabaseError saying in Portuguese
// why the server refused it; `what` names the database in the message.
std::unique_ptr<soci::session> OpenFirebirdSoci(const std::string &connect, const std::string &what);

// The attachment under a SOCI session, for the one call another thread may
// make on it (fb_cancel_operation).
isc_db_handle FirebirdAttachmentOf(soci::session &session);

// Frees a SOCI statement without throwing: SOCI throws from its destructor
// when freeing the server's handle fails, as it does once the connection is
// gone, and a throw there ends the process.
void FreeFirebirdStatement(std::unique_ptr<soci::statement> &statement) noexcept;

// A SOCI statement freed without throwing.
class FirebirdStatement {
public:
    explicit FirebirdStatement(soci::session &session) : st_(std::make_unique<soci::statement>(session)) {}
    ~FirebirdStatement() { FreeFirebirdStatement(st_); }
    FirebirdStatement(const FirebirdStatement &) = delete;
    FirebirdStatement &operator=(const FirebirdStatement &) = delete;
    soci::statement &operator*() { return *st_; }
    soci::statement *operator->() { return st_.get(); }

private:
    std::unique_ptr<soci::statement> st_;
};

// Closes a SOCI session without throwing, whatever state its connection is
// in; an open transaction is rolled back first.
void CloseFirebirdSoci(std::unique_ptr<soci::session> &session) noexcept;

// The attachment's handle for cancelling from the watchdog's thread while
// the owner may drop it.
class FirebirdCanceller {
public:
    void Set(isc_db_handle handle)
    {
        std::lock_guard lock(mutex_);
        handle_ = handle;
    }
    // fb_cancel_raise asks the statement to stop, fb_cancel_abort cuts the
    // connection; nothing without an attachment.
    void Cancel(int how);

private:
    std::mutex mutex_;
    isc_db_handle handle_ = 0;
};
