// The booking's reads and writes of documents: whether one is booked
// already, and its rows.
#include "import/booking.h"

using Values = ImportConnection::Values;

namespace {
// A document without a key is known by these, in this order; the company
// and the day come first, so the period index finds the few documents of
// that day. The books may hold no participant's name, the claims hold ''.
constexpr const char *kIdentity[] = {"CDEMPRESA", "DTENTRSAIDA", "CDINSCESTA", "IDENTRSAIDA", "CDMODDOCFISC",
                                     "CDSERIE",   "NRNOTAFISC",  "DTEMISSAO",  "NMPARTICIPANTE"};

std::string column(const std::string &table, const char *name)
{
    return std::string(name) == "NMPARTICIPANTE" && table == "N." ? "COALESCE(N.NMPARTICIPANTE, '')" : table + name;
}

// Each column of the identity of `table` equal to the same of `other`, or to
// its value where `other` is empty.
std::string sameIdentity(const std::string &table, const std::string &other = "")
{
    std::string where;
    for (const char *c : kIdentity)
        where += (where.empty() ? "" : " AND ") + column(table, c) + " = " + (other.empty() ? "?" : column(other, c));
    return where;
}

Values identityOf(const BookedHeader &h)
{
    return {h.company, h.moveDate, h.registration, h.side, h.model, h.series, h.number, h.issueDate,
            h.participant.value_or("")};
}
} // namespace

Repeats::Repeats(ImportConnection &db)
    : db_(db),
      selKey_(db.Prepare("SELECT CAST(CDNOTAFISC AS VARCHAR(20)), IDCANCELADA FROM NFECHAVE WHERE CHNFE = ?")),
      selIdentity_(db.Prepare("SELECT CAST(N.CDNOTAFISC AS VARCHAR(20)) FROM NOTAFISCAL N WHERE " + sameIdentity("N."))),
      insKey_(db.Prepare("INSERT INTO NFECHAVE (CHNFE, CDNOTAFISC, IDCANCELADA) VALUES (?, ?, ?)")),
      updKey_(db.Prepare("UPDATE NFECHAVE SET CDNOTAFISC = ?, IDCANCELADA = ? WHERE CHNFE = ?")),
      selContent_(db.Prepare("SELECT CAST(COUNT(*) AS VARCHAR(20)), CAST(CAST(ROUND(SUM(VLCONTABIL) * 100, 0) AS BIGINT) "
                             "AS VARCHAR(20)) FROM ITEMNOTAFISC WHERE CDNOTAFISC = ?"))
{
    if (!db.HasTable("NFEIDENTIDADE"))
        return;
    // The document it names, when that one is still the same document: a
    // number freed by a removal may be handed out again.
    selClaim_ = db.Prepare("SELECT CAST(I.CDNOTAFISC AS VARCHAR(20)), CAST(N.CDNOTAFISC AS VARCHAR(20)) FROM "
                           "NFEIDENTIDADE I LEFT JOIN NOTAFISCAL N ON N.CDNOTAFISC = I.CDNOTAFISC AND " +
                           sameIdentity("N.", "I.") + " WHERE " + sameIdentity("I."));
    delClaim_ = db.Prepare("DELETE FROM NFEIDENTIDADE WHERE " + sameIdentity("") + " AND CDNOTAFISC = ?");
    std::string columns, values;
    for (const char *c : kIdentity) {
        columns += std::string(c) + ", ";
        values += "?, ";
    }
    insClaim_ = db.Prepare("INSERT INTO NFEIDENTIDADE (" + columns + "CDNOTAFISC) VALUES (" + values + "?)");
}

Repeats::Prior Repeats::FindKey(const std::string &key)
{
    Prior p;
    const auto rows = db_.Select(selKey_, {key});
    if (rows.empty())
        return p;
    p.keyKnown = true;
    p.document = rows[0][0];
    p.booked = p.document.has_value();
    p.cancelled = rows[0][1] == std::optional<std::string>("S");
    return p;
}

Repeats::Prior Repeats::Find(const std::string &key, const BookedHeader &h)
{
    if (!key.empty())
        return FindKey(key);
    Prior p;
    const Values identity = identityOf(h);
    // A claim whose document still has the identity answers at once; the
    // search of the day's documents stays for the documents booked before
    // the claims were kept, and for the new ones.
    if (selClaim_ >= 0) {
        const auto claims = db_.Select(selClaim_, identity);
        if (!claims.empty() && claims[0][1]) {
            p.booked = true;
            p.document = claims[0][1];
            return p;
        }
    }
    const auto rows = db_.Select(selIdentity_, identity);
    if (!rows.empty()) {
        p.booked = true;
        p.document = rows[0][0];
    }
    return p;
}

void Repeats::Remember(const std::string &key, const std::string &id, const Prior &prior, bool cancelled)
{
    if (key.empty())
        return;
    if (prior.keyKnown)
        db_.Run(updKey_, {id, cancelled ? "S" : "N", key});
    else
        db_.Run(insKey_, {key, id, cancelled ? "S" : "N"});
}

void Repeats::Claim(const std::string &key, const BookedHeader &h, const std::string &id)
{
    if (!key.empty() || insClaim_ < 0)
        return;
    Values identity = identityOf(h);
    const auto rows = db_.Select(selClaim_, identity);
    if (!rows.empty() && rows[0][0]) {
        // Not found booked, yet taken: by an import that committed since
        // this one looked (its transaction did not see it then).
        if (rows[0][1] && *rows[0][0] != id)
            throw EDatabaseConflict("o documento foi gravado por outra importação ao mesmo tempo");
        // Its document was removed since (its number may even be the one just
        // written): the identity is free again. Of two imports freeing it at
        // once, the second's insert meets the first's.
        Values stale = identity;
        stale.push_back(rows[0][0]);
        db_.Run(delClaim_, stale);
    }
    identity.push_back(id);
    db_.Run(insClaim_, identity);
}

bool Repeats::SameContent(const std::string &id, std::size_t lines, Cents total)
{
    const auto rows = db_.Select(selContent_, {id});
    if (rows.empty() || !rows[0][0])
        return false;
    const Cents booked = rows[0][1] ? std::stoll(*rows[0][1]) : 0;
    return *rows[0][0] == std::to_string(lines) && booked == total;
}

void Repeats::RememberCancelled(const std::string &key) { db_.Run(insKey_, {key, std::nullopt, "S"}); }

void Repeats::MarkCancelled(const std::string &key, const std::string &id) { db_.Run(updKey_, {id, "S", key}); }

DocumentWriter::DocumentWriter(ImportConnection &db) : db_(db)
{
    insDoc_ = db_.Prepare(
        "INSERT INTO NOTAFISCAL (CDNOTAFISC, CDEMPRESA, CDFILIAL, IDENTRSAIDA, CDSERIE, NRNOTAFISC, CDMODDOCFISC, "
        "CDTIPOOPER, DTEMISSAO, DTENTRSAIDA, CDINSCESTA, CDINSCMUNI, NMPARTICIPANTE, SGUF, IDSITUACAO, NRDOCPARTIC, "
        "NRIEPARTIC) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insItem_ = db_.Prepare("INSERT INTO ITEMNOTAFISC (CDNOTAFISC, NRITEM, CDPRODUTO, CDCFOP, QTITEM, VLUNITARIO, "
                           "VLCONTABIL) VALUES (?, ?, ?, ?, ?, ?, ?)");
    insTax_ = db_.Prepare("INSERT INTO IMPOSTOITEMNF (CDNOTAFISC, NRITEM, CDIMPOSTONFE, VLBASECALC, PCALIQUOTA, "
                          "VLIMPOSTO, VLISENTO, VLOUTROS, VLBASEST, VLIMPOSTOST, CDCST) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    cancelDoc_ = db_.Prepare("UPDATE NOTAFISCAL SET IDSITUACAO = 'C' WHERE CDNOTAFISC = ?");
}

std::string DocumentWriter::Document(const BookedHeader &h)
{
    // From the database: another import may be numbering documents too.
    std::string id = db_.NextKey(kDocumentNumbers);
    db_.Run(insDoc_, {id, h.company, h.branch, h.side, h.series, h.number, h.model, h.operation, h.issueDate,
                      h.moveDate, h.registration, h.municipal, h.participant, h.state, h.situation,
                      h.participantDocument, h.participantRegistration});
    return id;
}

void DocumentWriter::Item(const std::string &id, const std::string &item, const std::string &product,
                          const std::string &cfop, const FiscalItem &it, Cents value)
{
    items_.push_back({id, item, product, cfop, DecimalText(it.quantity, 3), DecimalText(it.unitValue, 2),
                      DecimalText(value, 2)});
}

void DocumentWriter::Tax(const std::string &id, const std::string &item, const TaxRow &r)
{
    taxes_.push_back({id, item, std::string(r.tax), DecimalText(r.base, 2), DecimalText(r.rate, 2), DecimalText(r.value, 2),
                      DecimalText(r.exempt, 2), DecimalText(r.other, 2), DecimalText(r.stBase, 2),
                      DecimalText(r.stValue, 2),
                      r.cst.empty() ? std::nullopt : std::optional<std::string>(r.cst)});
}

void DocumentWriter::Flush()
{
    db_.RunMany(insTax_, taxes_);
    db_.RunMany(insItem_, items_);
    Discard();
}

void DocumentWriter::Discard()
{
    taxes_.clear();
    items_.clear();
}

void DocumentWriter::Cancel(const std::string &id) { db_.Run(cancelDoc_, {id}); }
