// Built instead of the Firebird session and writer when the build leaves
// Firebird out (FIS_WITH_FIREBIRD=OFF): the engine is refused the way an
// unknown one is.
#include "data/firebird/session.h"

#include "data/dberrors.h"
#include "data/engine.h"
#include "data/writer.h"

namespace {
[[noreturn]] void refuse() { throw EDatabaseError("Motor de banco de dados não disponível: '" + std::string(FirebirdEngine().name) + "'."); }
} // namespace

std::unique_ptr<DatabaseSession> OpenFirebirdSession(const FirebirdConnection &) { refuse(); }
std::unique_ptr<DatabaseWriter> OpenFirebirdWriter(const FirebirdConnection &) { refuse(); }

std::string FirebirdFailureText(const std::vector<std::intptr_t> &) { return {}; }
