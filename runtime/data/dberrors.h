#pragma once
// Errors of the data-access framework: missing parameters and fields,
// refused data packets and every failure the database reports.
#include "rtl/sysutils.h"

class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

// A statement stopped by DatabaseSession::Interrupt (a person's "Cancelar" or
// a deadline), not by a fault of the database.
class EDatabaseCancelled : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};
