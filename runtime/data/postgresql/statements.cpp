#include "data/postgresql/session.h"

#include "data/dberrors.h"
#include "data/sqlparams.h"

#include <algorithm>
#include <cctype>

namespace {
// Where the statement's first word starts, past blanks and comments; npos
// when a comment never closes.
std::size_t firstWord(const std::string &sql)
{
    std::size_t i = 0;
    for (;;) {
        while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i])))
            ++i;
        if (sql.compare(i, 2, "--") == 0) {
            i = sql.find('\n', i);
            if (i == std::string::npos)
                return i;
        } else if (sql.compare(i, 2, "/*") == 0) {
            i = sql.find("*/", i + 2);
            if (i == std::string::npos)
                return i;
            i += 2;
        } else {
            return i;
        }
    }
}

std::string wordAt(const std::string &sql, std::size_t i)
{
    std::string word;
    while (i < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i])))
        word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[i++])));
    return word;
}

void recursiveWith(std::string &sql)
{
    const std::size_t at = firstWord(sql);
    if (at == std::string::npos || wordAt(sql, at) != "WITH")
        return;
    std::size_t next = at + 4;
    while (next < sql.size() && std::isspace(static_cast<unsigned char>(sql[next])))
        ++next;
    if (wordAt(sql, next) != "RECURSIVE")
        sql.insert(at + 4, " RECURSIVE");
}
} // namespace

PostgresqlStatementText PreparePostgresqlStatement(const std::string &sql)
{
    PostgresqlStatementText out;
    std::size_t copied = 0;
    for (const ParamMarker &m : FindParamMarkers(sql)) {
        std::size_t n = 0;
        while (n < out.names.size() && !SameName(out.names[n], m.name))
            ++n;
        if (n == out.names.size())
            out.names.push_back(m.name);
        out.sql.append(sql, copied, m.offset - copied);
        out.sql += '$' + std::to_string(n + 1);
        copied = m.offset + m.length;
    }
    out.sql.append(sql, copied, std::string::npos);
    recursiveWith(out.sql);
    return out;
}

bool LooksLikePostgresqlQuery(const std::string &sql)
{
    const std::size_t i = firstWord(sql);
    if (i == std::string::npos)
        return false;
    if (i < sql.size() && sql[i] == '(')
        return true;
    const std::string word = wordAt(sql, i);
    return word == "SELECT" || word == "WITH" || word == "VALUES" || word == "TABLE";
}

std::string PostgresqlFailureText(const std::string &state)
{
    auto is = [&](std::initializer_list<const char *> codes) {
        for (const char *c : codes)
            if (state == c)
                return true;
        return false;
    };
    if (is({"53100"}))
        return "O disco do servidor do banco de dados está cheio.";
    if (is({"40P01", "55P03", "40001"}))
        return "Os dados estão bloqueados por outra operação; tente de novo em instantes.";
    if (is({"57P01", "57P02", "57P03"}))
        return "O banco de dados foi desligado no servidor para manutenção; tente de novo quando ele voltar.";
    if (is({"28P01", "28000"}))
        return "O servidor do banco de dados recusou o usuário ou a senha.";
    if (is({"42501"}))
        return "O usuário do banco de dados não tem permissão para esta operação.";
    if (is({"3D000"}))
        return "O banco de dados não existe no servidor.";
    if (state.size() == 5 && state.compare(0, 2, "08") == 0)
        return "O servidor do banco de dados não está disponível ou recusou a conexão.";
    if (is({"XX001", "XX002"}))
        return "Os dados do banco estão danificados no servidor.";
    return {};
}

std::string PostgresqlConnectFailureText(const std::string &message)
{
    auto has = [&](const char *words) { return message.find(words) != std::string::npos; };
    if (has("password authentication failed") || has("no password supplied") ||
        has("no pg_hba.conf entry") || (has("role \"") && has("does not exist")))
        return PostgresqlFailureText("28P01");
    if (has("database \"") && has("does not exist"))
        return PostgresqlFailureText("3D000");
    if (has("permission denied for database") || has("not permitted to log in"))
        return PostgresqlFailureText("42501");
    if (has("the database system is shutting down") || has("the database system is starting up") ||
        has("terminating connection due to administrator command"))
        return PostgresqlFailureText("57P01");
    return PostgresqlFailureText("08006");
}

std::string PostgresqlConnectString(const PostgresqlConnection &c)
{
    if (c.port <= 0 || c.port > 65535)
        throw EDatabaseError("Porta inválida: " + std::to_string(c.port) + ".");
    if (c.database.empty())
        throw EDatabaseError("Banco de dados PostgreSQL não informado.");
    // libpq's quoting: the value in apostrophes, apostrophe and backslash escaped.
    auto quoted = [](const std::string &v) {
        std::string q = "'";
        for (char ch : v) {
            if (ch == '\'' || ch == '\\')
                q += '\\';
            q += ch;
        }
        return q + "'";
    };
    std::string s = "host=" + quoted(c.host) + " port=" + std::to_string(c.port) + " dbname=" + quoted(c.database);
    if (!c.user.empty())
        s += " user=" + quoted(c.user);
    if (!c.password.empty())
        s += " password=" + quoted(c.password);
    // Texts in UTF-8 and dates in ISO form whatever the server's defaults.
    // Compiling a statement's expressions costs more than it saves where
    // every call prepares anew.
    s += " client_encoding='UTF8' options='-c DateStyle=ISO,YMD -c IntervalStyle=iso_8601 -c jit=off'";
    // A server that never answers does not hold the connecting side past the
    // calls' deadline; libpq counts whole seconds, two at least.
    const int seconds = c.timeoutMs > 0 ? std::max(2, (c.timeoutMs + 999) / 1000) : 10;
    s += " connect_timeout=" + std::to_string(seconds);
    return s;
}
