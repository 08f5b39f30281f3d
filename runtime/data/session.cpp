#include "data/session.h"

#include "data/dberrors.h"
#include "data/sqlparams.h"

std::vector<BoundValue> ResolveBindings(const std::string &sql, const NamedValues &params)
{
    const std::vector<std::string> names = ParamNames(sql);
    for (std::size_t i = 0; i < params.size(); ++i) {
        bool used = false;
        for (const std::string &n : names)
            used = used || SameName(n, params[i].first);
        if (!used)
            throw EDatabaseError("Parâmetro '" + params[i].first + "' não existe no comando.");
        for (std::size_t j = 0; j < i; ++j)
            if (SameName(params[j].first, params[i].first))
                throw EDatabaseError("Parâmetro '" + params[i].first + "' informado duas vezes.");
    }
    std::vector<BoundValue> bound;
    for (const ParamMarker &m : FindParamMarkers(sql)) {
        bool done = false;
        for (const BoundValue &b : bound)
            done = done || b.name == m.name;
        if (done)
            continue;
        const Variant *value = nullptr;
        for (const auto &p : params)
            if (SameName(p.first, m.name))
                value = &p.second;
        if (!value)
            throw EDatabaseError("Parâmetro '" + m.name + "' sem valor.");
        // Empty text travels as NULL, as it would on Oracle.
        bool empty = value->kind() == Variant::Kind::Text && value->asString().empty();
        bound.push_back({m.name, empty ? Variant::Null() : *value});
    }
    return bound;
}

void DatabaseSession::QueryRows(const std::string &sql, const NamedValues &params, RowReceiver &receiver)
{
    const ResultSet result = Query(sql, params);
    if (!receiver.Columns(result.columns))
        return;
    for (const auto &row : result.rows)
        if (!receiver.Row(row))
            return;
}

std::string DatabaseTimeoutText(long long milliseconds)
{
    std::string seconds = std::to_string(milliseconds / 1000);
    if (const long long rest = milliseconds % 1000; rest != 0) {
        std::string fraction = std::to_string(1000 + rest).substr(1);
        fraction.erase(fraction.find_last_not_of('0') + 1);
        seconds += "," + fraction;
    }
    return "O banco de dados não respondeu em " + seconds + " s; a operação foi interrompida. "
           "A próxima ação tentará conectar de novo.";
}
