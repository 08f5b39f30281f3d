// The NF-e reader among the import's formats: an XML text taken whole under
// the file limit, read by ReadNfe and handed on as a neutral document.
#include "import/nfe.h"
#include "import/reader.h"

namespace {

FiscalItem item(NfeItem &&it)
{
    FiscalItem out;
    out.number = it.number;
    out.accountingValue = it.AccountingValue();
    out.product = FiscalProduct{std::move(it.code), std::move(it.name)};
    out.cfop = std::move(it.cfop);
    out.quantity = it.quantity;
    out.unitValue = it.unitValue;
    out.goods = it.goods;
    out.discount = it.discount;
    out.freight = it.freight;
    out.insurance = it.insurance;
    out.other = it.other;
    out.importTax = it.importTax;
    if (it.icms) {
        out.taxes.push_back({TaxCode::Icms, std::move(it.icms->cst), it.icms->base, it.icms->tax, it.icms->rate, true,
                             std::move(it.icms->origin)});
        if (it.icms->stBase || it.icms->stTax)
            out.taxes.push_back({TaxCode::IcmsSt, {}, it.icms->stBase, it.icms->stTax, 0, true});
    }
    if (it.ipi)
        out.taxes.push_back({TaxCode::Ipi, std::move(it.ipi->cst), it.ipi->base, it.ipi->tax, it.ipi->rate, it.ipi->taxed});
    if (it.iss)
        out.taxes.push_back({TaxCode::Iss, {}, it.iss->base, it.iss->tax, it.iss->rate, true});
    return out;
}

Purpose purpose(int finNFe)
{
    switch (finNFe) {
    case 2: return Purpose::Complementary;
    case 3: return Purpose::Adjustment;
    case 4: return Purpose::Return;
    default: return Purpose::Normal;
    }
}

FiscalDocument neutral(NfeDocument &&d)
{
    FiscalDocument out;
    FiscalHeader &h = out.header;
    h.key = std::move(d.key);
    h.model = std::move(d.model);
    h.series = std::move(d.series);
    h.number = d.number;
    h.direction = d.type == 0 ? Direction::Entry : Direction::Exit;
    h.purpose = purpose(d.purpose);
    h.issueDate = std::move(d.issueDate);
    h.moveDate = std::move(d.moveDate);
    h.trial = d.homologation;
    h.withoutAuthorisation = !d.authorised;
    out.issuer = std::move(d.issuer);
    out.recipient = std::move(d.recipient);
    out.items.reserve(d.items.size());
    for (NfeItem &it : d.items)
        out.items.push_back(item(std::move(it)));
    out.total = d.total;
    return out;
}

class NfeXml : public DocumentReader {
public:
    // Any XML: what is XML but no NF-e is refused by the reader, with the reason.
    bool Recognises(std::string_view head) const override
    {
        if (head.substr(0, 3) == "\xEF\xBB\xBF")
            head.remove_prefix(3);
        if (head.substr(0, 2) == "\xFF\xFE" || head.substr(0, 2) == "\xFE\xFF")
            head.remove_prefix(2);
        for (char c : head) {
            if (c == '<')
                return true;
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\0')
                return false;
        }
        return false;
    }

    bool Read(SourceStream &in, const std::string &name, const SourceLimits &limits, DocumentSink &sink) const override
    {
        std::string text;
        if (!ReadWholeText(in, limits.fileBytes, text))
            return true;
        NfeContent content = ReadNfe(text.data(), text.size());
        if (auto *d = std::get_if<NfeDocument>(&content))
            return sink.Document(name, neutral(std::move(*d)));
        if (auto *c = std::get_if<NfeCancellation>(&content))
            return sink.Cancellation(name, {std::move(c->key)});
        if (auto *e = std::get_if<NfeOtherEvent>(&content))
            return sink.OtherEvent(name, {std::move(e->type), std::move(e->key)});
        const auto &r = std::get<NfeRefusal>(content);
        return sink.Refusal(name, r.field, r.reason);
    }

    std::string FieldName(DocumentField field, int item) const override
    {
        switch (field) {
        case DocumentField::Registration: return "emit/IE";
        case DocumentField::Direction: return "ide/tpNF";
        case DocumentField::ItemCfop: return "det[" + std::to_string(item) + "]/prod/CFOP";
        case DocumentField::Environment: return "ide/tpAmb";
        case DocumentField::EntryDate: return "ide/dhEmi";
        case DocumentField::Total: return "total/ICMSTot/vNF";
        }
        return {};
    }
};

} // namespace

const DocumentReader &NfeXmlReader()
{
    static const NfeXml reader;
    return reader;
}
