// The EFD ICMS/IPI reader among the import's formats: the file read record
// by record (efd.h), each C100, C500 and D100 handed on as a neutral
// document of the file's company, the apuração's adjustments (E111, C197)
// as adjustments. The file is taken whole or not at all.
#include "import/efd.h"
#include "import/reader.h"

namespace {

// CST as the booking knows it: the situation without the origin digit.
std::string situationCode(const std::string &cst) { return cst.size() >= 3 ? cst.substr(1) : cst; }

Situation situation(const std::string &code)
{
    if (code == "02" || code == "03")
        return Situation::Cancelled;
    if (code == "04")
        return Situation::Denied;
    if (code == "05")
        return Situation::Unused;
    return Situation::Regular;
}

FiscalParty participant(const EfdDocument &d, const EfdTables &tables)
{
    FiscalParty p;
    auto it = tables.participants.find(d.participant);
    if (it == tables.participants.end())
        return p;
    const EfdParticipant &e = it->second;
    p.document = !e.cnpj.empty() ? e.cnpj : e.cpf;
    p.name = e.name;
    p.registration = e.registration;
    p.state = e.State();
    return p;
}

FiscalItem itemOf(const EfdItem &e, const EfdTables &tables)
{
    FiscalItem it;
    it.number = e.number;
    auto name = tables.products.find(e.code);
    it.product = FiscalProduct{e.code, name == tables.products.end() ? std::string() : name->second};
    it.cfop = e.cfop;
    it.quantity = e.quantity;
    it.unitValue = e.quantity > 0 ? (e.value * 1000 + e.quantity / 2) / e.quantity : e.value;
    it.goods = e.value;
    it.discount = e.discount;
    // The document's freight, insurance and other charges are not per item:
    // the booking spreads them from VL_DOC.
    it.accountingValue = e.value - e.discount + e.ipi + e.st;
    it.taxes.push_back({TaxCode::Icms, situationCode(e.cst), e.base, e.icms, e.rate, true});
    if (e.stBase || e.st)
        it.taxes.push_back({TaxCode::IcmsSt, {}, e.stBase, e.st, 0, true});
    if (e.ipi || e.ipiBase)
        it.taxes.push_back({TaxCode::Ipi, e.ipiCst, e.ipiBase, e.ipi, e.ipiRate, true});
    return it;
}

// A document stated only by its analytical lines: each is an item without product.
FiscalItem lineOf(const EfdAnalytical &a, int number)
{
    FiscalItem it;
    it.number = number;
    it.cfop = a.cfop;
    it.quantity = 1000;
    it.unitValue = a.operation;
    it.goods = a.operation;
    it.accountingValue = a.operation;
    it.taxes.push_back({TaxCode::Icms, situationCode(a.cst), a.base, a.icms, a.rate, true});
    if (a.stBase || a.st)
        it.taxes.push_back({TaxCode::IcmsSt, {}, a.stBase, a.st, 0, true});
    if (a.ipi)
        it.taxes.push_back({TaxCode::Ipi, {}, 0, a.ipi, 0, true});
    return it;
}

FiscalDocument neutral(const EfdDocument &d, const EfdTables &tables, const FiscalParty &company,
                       const EfdIdentity &identity)
{
    FiscalDocument out;
    FiscalHeader &h = out.header;
    h.key = d.key;
    h.model = d.model;
    h.series = d.series;
    h.number = d.number;
    // IND_OPER is the company's; the header states the issuer's direction.
    h.direction = d.ownIssue == d.exit ? Direction::Exit : Direction::Entry;
    h.situation = situation(d.situation);
    if (d.situation == "06" || d.situation == "07")
        h.purpose = Purpose::Complementary;
    // A void number may come without dates: it is booked on the period's first day.
    h.issueDate = d.issueDate.empty() ? identity.from : d.issueDate;
    h.moveDate = d.moveDate;
    std::optional<FiscalParty> other;
    if (!d.participant.empty())
        other = participant(d, tables);
    if (d.ownIssue) {
        out.issuer = company;
        out.recipient = other;
    } else {
        out.issuer = other.value_or(FiscalParty{});
        out.recipient = company;
    }
    out.codesFrom = CodesFrom::Company;
    if (!d.Void()) {
        if (!d.items.empty()) {
            for (const EfdItem &e : d.items)
                out.items.push_back(itemOf(e, tables));
        } else {
            int n = 0;
            for (const EfdAnalytical &a : d.lines)
                out.items.push_back(lineOf(a, ++n));
        }
        out.total = d.total;
    }
    return out;
}

// The adjustment's use in the apuração by its code: E111's fourth character
// under an ICMS code (third '0'); C197's third under ICMS (fourth '0').
std::optional<char> adjustmentType(const std::string &code, bool document)
{
    if (code.size() < 4)
        return std::nullopt;
    const char use = document ? code[2] : code[3], tax = document ? code[3] : code[2];
    if (tax != '0' || use < '0' || use > '4')
        return std::nullopt;
    return use;
}

class Reading : public EfdHandler {
public:
    Reading(const std::string &name, DocumentSink &sink) : name_(name), sink_(sink) {}

    bool Opened(const EfdIdentity &id) override
    {
        identity_ = id;
        company_.document = !id.cnpj.empty() ? id.cnpj : id.cpf;
        company_.name = id.name;
        company_.registration = id.registration;
        company_.state = id.state;
        if (!sink_.BeginFile(place(1), company_)) {
            refused_ = true;
            return false;
        }
        begun_ = true;
        return true;
    }

    bool Document(const EfdDocument &d, const EfdTables &tables) override
    {
        for (const EfdAdjustment &a : d.adjustments)
            if (!adjust(a, true))
                return false;
        return sink_.Document(place(d.line), neutral(d, tables, company_, identity_));
    }

    bool Apuracao(const EfdApuracao &a) override
    {
        for (const EfdAdjustment &e : a.adjustments)
            if (!adjust(e, false))
                return false;
        return true;
    }

    std::string place(long line) const { return name_ + ", linha " + std::to_string(line); }
    bool begun_ = false, refused_ = false;

private:
    bool adjust(const EfdAdjustment &a, bool document)
    {
        const std::optional<char> type = adjustmentType(a.code, document);
        if (!type || a.value == 0)
            return true;
        FiscalAdjustment f;
        f.month = identity_.from.substr(0, 8) + "01";
        f.number = ++adjustments_;
        f.type = *type;
        f.code = a.code;
        f.description = a.description;
        f.value = a.value;
        return sink_.Adjustment(place(a.line), f);
    }

    const std::string &name_;
    DocumentSink &sink_;
    EfdIdentity identity_;
    FiscalParty company_;
    int adjustments_ = 0;
};

class EfdText : public DocumentReader {
public:
    bool Recognises(std::string_view head) const override
    {
        if (head.substr(0, 3) == "\xEF\xBB\xBF")
            head.remove_prefix(3);
        return head.substr(0, 6) == "|0000|";
    }

    bool Read(SourceStream &in, const std::string &name, const SourceLimits &limits, DocumentSink &sink) const override
    {
        Reading reading(name, sink);
        EfdFault fault;
        const EfdOutcome outcome = ReadEfd(in, limits, reading, fault);
        if (outcome == EfdOutcome::Read) {
            sink.EndFile(true);
            return true;
        }
        if (reading.begun_)
            sink.EndFile(false);
        if (outcome == EfdOutcome::Stopped)
            return reading.refused_;
        // A stream that failed is reported by the import with its own reason.
        if (in.Problem().empty()) {
            const std::string field = fault.record.empty() ? "" : fault.field.empty() ? fault.record
                                                                                      : fault.record + " " + fault.field;
            return sink.Refusal(reading.place(fault.line), field,
                                fault.reason + "; nada do arquivo foi importado");
        }
        return true;
    }

    std::string FieldName(DocumentField field, int item) const override
    {
        switch (field) {
        case DocumentField::Registration: return "0000 IE";
        case DocumentField::Direction: return "IND_OPER";
        case DocumentField::ItemCfop: return "CFOP (item " + std::to_string(item) + ")";
        case DocumentField::EntryDate: return "C100 DT_E_S";
        case DocumentField::Total: return "C100 VL_DOC";
        case DocumentField::Environment: break;  // a filed book has no test environment
        }
        return {};
    }
};

} // namespace

const DocumentReader &EfdTextReader()
{
    static const EfdText reader;
    return reader;
}
