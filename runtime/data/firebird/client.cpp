#include "data/firebird/client.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {
// True when the vector carries an argument of `kind` equal to `value`. A
// counted string takes three places, every other argument two.
bool hasArgument(const std::vector<std::intptr_t> &v, ISC_STATUS kind, ISC_STATUS value)
{
    for (std::size_t i = 0; i + 1 < v.size() && v[i] != isc_arg_end; i += v[i] == isc_arg_cstring ? 3 : 2)
        if (v[i] == kind && v[i + 1] == value)
            return true;
    return false;
}

const std::vector<std::intptr_t> &statusOf(const soci::soci_error &e)
{
    static const std::vector<std::intptr_t> none;
    const auto *fb = dynamic_cast<const soci::firebird_soci_error *>(&e);
    return fb ? fb->status_ : none;
}

bool anyCode(const std::vector<std::intptr_t> &v, std::initializer_list<ISC_STATUS> codes)
{
    return std::any_of(codes.begin(), codes.end(), [&](ISC_STATUS c) { return hasArgument(v, isc_arg_gds, c); });
}

// SOCI does not export the Firebird backend's type information, so the
// sanitizer's dynamic-type check on these downcasts could not even link. Only
// the backends' public members are touched.
__attribute__((no_sanitize("vptr"))) void forgetStatementHandle(soci::statement &st)
{
    static_cast<soci::firebird_statement_backend *>(st.get_backend())->stmtp_ = 0;
}
} // namespace

std::string FirebirdStatusText(const ISC_STATUS *status)
{
    std::string text;
    char line[512];
    const ISC_STATUS *at = status;
    while (fb_interpret(line, sizeof line, &at) > 0)
        text += (text.empty() ? "" : "\n") + std::string(line);
    return text;
}

std::string FirebirdFailureText(const std::vector<std::intptr_t> &status)
{
    static_assert(sizeof(ISC_STATUS) == sizeof(std::intptr_t));
    // A full disk shows as an I/O error carrying the system's code; it is
    // looked at first, since the I/O error alone says little.
    if (hasArgument(status, isc_arg_unix, ENOSPC))
        return "O disco do servidor do banco de dados está cheio.";
    if (anyCode(status, {isc_lock_conflict, isc_deadlock, isc_update_conflict, isc_lock_timeout}))
        return "Os dados estão bloqueados por outra operação; tente de novo em instantes.";
    if (anyCode(status, {isc_shutdown, isc_att_shutdown, isc_shutinprog, isc_shutdown_timeout}))
        return "O banco de dados foi desligado no servidor para manutenção; tente de novo quando ele voltar.";
    if (anyCode(status, {isc_login}))
        return "O servidor do banco de dados recusou o usuário ou a senha.";
    if (anyCode(status, {isc_no_priv}))
        return "O usuário do banco de dados não tem permissão para esta operação.";
    if (anyCode(status, {isc_unavailable, isc_net_connect_err, isc_net_connect_listen_err, isc_network_error,
                         isc_net_read_err, isc_net_write_err}))
        return "O servidor do banco de dados não está disponível ou recusou a conexão.";
    if (anyCode(status, {isc_bad_db_format, isc_wrong_ods}))
        return "O arquivo do banco de dados está danificado ou não é um banco de dados.";
    if (anyCode(status, {isc_io_open_err, isc_io_access_err}))
        return "O arquivo do banco de dados não foi encontrado ou não pôde ser aberto no servidor.";
    if (anyCode(status, {isc_dsql_relation_err}))
        return "Uma tabela que o comando lê não existe neste banco de dados (um banco só com as tabelas de referência "
               "não tem as dos documentos).";
    return {};
}

ServerFailure FirebirdFailureOf(const soci::soci_error &e)
{
    const std::vector<std::intptr_t> &status = statusOf(e);
    ServerFailure f;
    f.engineText = e.get_error_message();
    // Network failures and a server or database going down: the attachment
    // is gone and only a new one helps.
    f.lost = anyCode(status, {isc_network_error, isc_net_read_err, isc_net_write_err, isc_lost_db_connection,
                              isc_shutdown, isc_att_shutdown, isc_conn_lost});
    if (f.lost && anyCode(status, {isc_shutdown, isc_att_shutdown}))
        f.lostText = FirebirdFailureText(status);
    f.cancelled = anyCode(status, {isc_cancelled});
    f.writeRefused = anyCode(status, {isc_read_only_trans});
    f.text = FirebirdFailureText(status);
    return f;
}

std::unique_ptr<soci::session> OpenFirebirdSoci(const std::string &connect, const std::string &what)
{
    auto session = std::make_unique<soci::session>();
    try {
        session->open(soci::firebird, connect);
    } catch (const soci::soci_error &e) {
        const std::string why = FirebirdFailureText(statusOf(e));
        // Whatever the client library says of a connection it could not
        // make, the person reads it in Portuguese; its words go to the log.
        // Only a refusal the server worded (a login, a missing file) is not
        // the server being out of reach.
        const bool unreachable = why.empty() || FirebirdFailureOf(e).lost ||
                                 anyCode(statusOf(e), {isc_net_connect_err, isc_net_connect_listen_err, isc_unavailable});
        const std::string message = "Não foi possível abrir o banco de dados " + what + ": " +
                                    (why.empty() ? "O servidor do banco de dados não está disponível ou recusou a conexão."
                                                 : why);
        if (unreachable)
            throw EDatabaseConnectionLost(message, e.get_error_message());
        throw EDatabaseError(message, e.get_error_message());
    }
    return session;
}

__attribute__((no_sanitize("vptr"))) isc_db_handle FirebirdAttachmentOf(soci::session &session)
{
    return static_cast<soci::firebird_session_backend *>(session.get_backend())->dbhp_;
}

void FreeFirebirdStatement(std::unique_ptr<soci::statement> &statement) noexcept
{
    if (!statement)
        return;
    try {
        statement->clean_up();
    } catch (...) {
        // The handle died with the connection; nothing is left to free.
        try {
            forgetStatementHandle(*statement);
            statement->clean_up();
        } catch (...) {
        }
    }
    try {
        statement.reset();
    } catch (...) {
    }
}

void CloseFirebirdSoci(std::unique_ptr<soci::session> &session) noexcept
{
    if (!session)
        return;
    // SOCI commits an open transaction and detaches in its destructor, and
    // throws there when either fails. A rollback clears the transaction; the
    // client library takes a rollback and a detach on a broken connection
    // for done.
    try {
        session->rollback();
    } catch (...) {
    }
    try {
        session.reset();
    } catch (...) {
    }
}

void FirebirdCanceller::Cancel(int how)
{
    std::lock_guard lock(mutex_);
    if (!handle_)
        return;
    ISC_STATUS_ARRAY status;
    fb_cancel_operation(status, &handle_, static_cast<ISC_USHORT>(how));
}
