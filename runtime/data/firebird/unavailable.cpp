// Built instead of the Firebird session when the build leaves Firebird out
// (FIS_WITH_FIREBIRD=OFF): the engine is refused the way an unknown one is.
#include "data/firebird/session.h"

#include "data/dberrors.h"

std::unique_ptr<DatabaseSession> OpenFirebirdSession(const FirebirdConnection &)
{
    throw EDatabaseError("Motor de banco de dados não disponível: 'firebird'.");
}

std::string FirebirdFailureText(const std::vector<std::intptr_t> &) { return {}; }
