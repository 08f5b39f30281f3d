// NF-e files through pugixml. Its parser never expands a declared entity; the
// DOCTYPE is parsed only so that it can be refused.
#include "import/nfe.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

namespace {

constexpr const char *kNfeNamespace = "http://www.portalfiscal.inf.br/nfe";
// An NF-e nests about ten levels; far deeper is no NF-e, and a walk of ours
// written recursively later must not meet it.
constexpr int kMaxXmlDepth = 64;

// True when elements nest past `limit`; walks without recursion.
bool nestedPast(pugi::xml_node top, int limit)
{
    int depth = 0;
    for (pugi::xml_node n = top; n;) {
        if (pugi::xml_node c = n.first_child()) {
            n = c;
            if (++depth > limit)
                return true;
            continue;
        }
        while (n && n != top && !n.next_sibling()) {
            n = n.parent();
            --depth;
        }
        n = n == top ? pugi::xml_node() : n.next_sibling();
    }
    return false;
}

// A field or structure the reader cannot accept; becomes the refusal.
struct Refused {
    std::string field, reason;
};

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Words that templates and schema samples leave where a value belongs.
bool placeholder(const std::string &value)
{
    // Real values mostly start with a digit; no placeholder does.
    if (value.empty() || std::isdigit(static_cast<unsigned char>(value[0])))
        return false;
    static const char *const words[] = {"string", "texto", "text", "valor", "value", "exemplo",
                                        "example", "placeholder", "preencher", "token", "null", "?"};
    for (const char *w : words)
        if (strcasecmp(value.c_str(), w) == 0)
            return true;
    if (value.size() >= 3 && std::all_of(value.begin(), value.end(), [](char c) { return c == 'x' || c == 'X'; }))
        return true;
    return value.rfind("${", 0) == 0 || value.rfind("{{", 0) == 0;
}

// Well-formed UTF-8: no stray continuation, overlong form, surrogate or code
// point past U+10FFFF. pugixml hands on a declared UTF-8 text's bytes as they are.
bool validUtf8(const std::string &s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t n;
        std::uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= s.size())
            return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

class Fields {
public:
    Fields(pugi::xml_node node, std::string path) : node_(node), root_(std::move(path)) {}

    pugi::xml_node Node() const { return node_; }
    std::string Path(const char *child) const { return path() + "/" + child; }

    Fields Child(const char *name, bool required = true) const
    {
        pugi::xml_node c = node_.child(name);
        if (!c && required)
            throw Refused{Path(name), "campo obrigatório ausente"};
        return Fields(c, this, name);
    }

    std::optional<std::string> Optional(const char *name) const
    {
        pugi::xml_node c = node_.child(name);
        if (!c)
            return std::nullopt;
        std::string v = c.child_value();
        if (!validUtf8(v))
            throw Refused{Path(name), "texto com bytes inválidos em UTF-8 (o arquivo não está na codificação que declara)"};
        if (placeholder(v))
            throw Refused{Path(name), "valor de modelo ('" + v + "') em vez de um dado real"};
        return v;
    }

    std::string Text(const char *name) const
    {
        auto v = Optional(name);
        if (!v || v->empty())
            throw Refused{Path(name), "campo obrigatório ausente"};
        return *v;
    }

    // A decimal amount scaled to `places`; absent is zero unless required.
    std::int64_t Amount(const char *name, int places, bool required = false) const
    {
        auto v = Optional(name);
        if (!v) {
            if (required)
                throw Refused{Path(name), "campo obrigatório ausente"};
            return 0;
        }
        auto n = ParseDecimal(*v, places);
        if (!n)
            throw Refused{Path(name), !v->empty() && (*v)[0] == '-' ? "valor negativo ('" + *v + "')"
                                                                    : "valor não numérico ('" + *v + "')"};
        return *n;
    }

    int Choice(const char *name, std::initializer_list<int> allowed) const
    {
        const std::string v = Text(name);
        for (int a : allowed)
            if (v == std::to_string(a))
                return a;
        throw Refused{Path(name), "valor não previsto ('" + v + "')"};
    }

private:
    Fields(pugi::xml_node node, const Fields *parent, const char *name) : node_(node), parent_(parent), name_(name) {}
    std::string path() const { return parent_ ? parent_->Path(name_) : root_; }

    pugi::xml_node node_;
    const Fields *parent_ = nullptr;  // lives longer: children are used inside their parent's scope
    const char *name_ = nullptr;
    std::string root_;
};

// "2026-01-15T10:30:00-03:00" or "2026-01-15": the day as written.
std::string day(const Fields &f, const char *name, bool required)
{
    auto v = f.Optional(name);
    if (!v || v->empty()) {
        if (required)
            throw Refused{f.Path(name), "campo obrigatório ausente"};
        return {};
    }
    const std::string d = v->substr(0, 10);
    auto digit = [&](std::size_t i) { return std::isdigit(static_cast<unsigned char>(d[i])) != 0; };
    bool ok = d.size() == 10 && d[4] == '-' && d[7] == '-' && digit(0) && digit(1) && digit(2) && digit(3) &&
              digit(5) && digit(6) && digit(8) && digit(9) && (v->size() == 10 || (*v)[10] == 'T');
    if (ok) {
        const int y = std::stoi(d.substr(0, 4)), m = std::stoi(d.substr(5, 2)), dd = std::stoi(d.substr(8, 2));
        static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        ok = y >= 1900 && m >= 1 && m <= 12 && dd >= 1 && dd <= (m == 2 && !leap ? 28 : days[m - 1]);
    }
    if (!ok)
        throw Refused{f.Path(name), "data inválida ('" + *v + "')"};
    return d;
}

NfeParty party(const Fields &f, const char *address, bool issuer)
{
    NfeParty p;
    if (auto c = f.Optional("CNPJ"))
        p.document = *c;
    else if (auto c2 = f.Optional("CPF"))
        p.document = *c2;
    else if (auto c3 = f.Optional("idEstrangeiro"))
        p.document = *c3;
    else if (issuer)
        throw Refused{f.Path("CNPJ"), "campo obrigatório ausente"};
    p.name = issuer ? f.Text("xNome") : f.Optional("xNome").value_or("");
    p.registration = f.Optional("IE").value_or("");
    if (!issuer)
        if (auto ind = f.Optional("indIEDest"); ind && ind->size() == 1)
            p.contributor = (*ind)[0];
    p.municipalRegistration = f.Optional("IM").value_or("");
    Fields addr = f.Child(address, issuer);
    p.state = addr.Node() ? addr.Text("UF") : "";
    return p;
}

NfeIcms icms(const Fields &group)
{
    NfeIcms t;
    t.group = group.Node().name();
    const bool simple = t.group.rfind("ICMSSN", 0) == 0;
    t.origin = group.Optional("orig").value_or("");
    t.cst = group.Text(simple ? "CSOSN" : "CST");
    t.base = group.Amount("vBC", 2);
    t.rate = group.Amount("pICMS", 2);
    // The Simples states its rate as the credit it passes on.
    if (simple && !group.Optional("pICMS"))
        t.rate = group.Amount("pCredSN", 2);
    t.tax = group.Amount("vICMS", 2);
    t.stBase = group.Amount("vBCST", 2);
    t.stTax = group.Amount("vICMSST", 2);
    t.fcpSt = group.Amount("vFCPST", 2);
    t.exonerated = group.Amount("vICMSDeson", 2);
    t.deductExonerated = group.Optional("indDeduzDeson").value_or("") == "1";
    return t;
}

NfeItem item(const Fields &det, bool returnsIpi)
{
    NfeItem it;
    const std::string n = det.Node().attribute("nItem").value();
    it.number = std::atoi(n.c_str());
    if (it.number < 1 || it.number > 990 || std::to_string(it.number) != n)
        throw Refused{det.Path("@nItem"), "número de item inválido ('" + n + "')"};
    Fields prod = det.Child("prod");
    it.code = prod.Text("cProd");
    it.name = prod.Text("xProd");
    it.cfop = prod.Text("CFOP");
    if (it.cfop.size() != 4 || !std::all_of(it.cfop.begin(), it.cfop.end(), ::isdigit) ||
        std::strchr("123567", it.cfop[0]) == nullptr)
        throw Refused{prod.Path("CFOP"), "CFOP inválido ('" + it.cfop + "')"};
    it.quantity = prod.Amount("qCom", 3, true);
    it.unitValue = prod.Amount("vUnCom", 2, true);
    it.goods = prod.Amount("vProd", 2, true);
    it.discount = prod.Amount("vDesc", 2);
    it.freight = prod.Amount("vFrete", 2);
    it.insurance = prod.Amount("vSeg", 2);
    it.other = prod.Amount("vOutro", 2);
    Fields tax = det.Child("imposto");
    if (Fields icmsHolder = tax.Child("ICMS", false); icmsHolder.Node()) {
        pugi::xml_node g = icmsHolder.Node().first_child();
        while (g && g.type() != pugi::node_element)
            g = g.next_sibling();
        if (!g || std::strncmp(g.name(), "ICMS", 4) != 0)
            throw Refused{icmsHolder.Path("ICMSxx"), "grupo de ICMS ausente"};
        it.icms = icms(Fields(g, icmsHolder.Path(g.name())));
    }
    if (Fields ipi = tax.Child("IPI", false); ipi.Node()) {
        NfeIpi i;
        if (Fields trib = ipi.Child("IPITrib", false); trib.Node()) {
            i.taxed = true;
            i.cst = trib.Optional("CST").value_or("");
            i.base = trib.Amount("vBC", 2);
            i.rate = trib.Amount("pIPI", 2);
            i.tax = trib.Amount("vIPI", 2, true);
        } else if (Fields nt = ipi.Child("IPINT", false); nt.Node()) {
            i.cst = nt.Optional("CST").value_or("");
        } else {
            throw Refused{ipi.Path("IPITrib"), "grupo de IPI ausente"};
        }
        it.ipi = i;
    }
    if (Fields iss = tax.Child("ISSQN", false); iss.Node()) {
        NfeIss s;
        s.base = iss.Amount("vBC", 2, true);
        s.rate = iss.Amount("vAliq", 2, true);
        s.tax = iss.Amount("vISSQN", 2, true);
        it.iss = s;
    }
    if (Fields ii = tax.Child("II", false); ii.Node())
        it.importTax = ii.Amount("vII", 2, true);
    if (returnsIpi)
        if (Fields devol = det.Child("impostoDevol", false); devol.Node())
            it.ipiReturned = devol.Child("IPI").Amount("vIPIDevol", 2, true);
    return it;
}

// What the layouts renamed or added: 2.00 dates without the time
// (dEmi, dSaiEnt and hSaiEnt), 3.10 the date and time (dhEmi, dhSaiEnt), the
// NFC-e and the returned IPI (impostoDevol).
struct Layout {
    const char *version, *issueDate, *moveDate;
    bool consumerModel, returnsIpi;
};
constexpr Layout kLayouts[] = {
    {"2.00", "dEmi", "dSaiEnt", false, false},
    {"3.10", "dhEmi", "dhSaiEnt", true, true},
    {"4.00", "dhEmi", "dhSaiEnt", true, true},
};

NfeDocument document(pugi::xml_node nfe, pugi::xml_node protocol)
{
    const Fields root(nfe, "NFe");
    const Fields inf = root.Child("infNFe");
    NfeDocument d;
    d.version = inf.Node().attribute("versao").value();
    const Layout *layout = nullptr;
    for (const Layout &l : kLayouts)
        if (d.version == l.version)
            layout = &l;
    if (!layout)
        throw Refused{"NFe/infNFe/@versao", "leiaute não suportado ('" + d.version + "'); aceitos 2.00, 3.10 e 4.00"};
    const std::string id = inf.Node().attribute("Id").value();
    if (!validUtf8(id))
        throw Refused{"NFe/infNFe/@Id", "texto com bytes inválidos em UTF-8"};
    if (id.compare(0, 3, "NFe") != 0)
        throw Refused{"NFe/infNFe/@Id", "chave de acesso inválida ('" + id + "'): deve começar por 'NFe' seguido dos 44 dígitos"};
    if (id.size() != 47 || !std::all_of(id.begin() + 3, id.end(), [](char c) { return c >= '0' && c <= '9'; }))
        throw Refused{"NFe/infNFe/@Id", "chave de acesso inválida ('" + id + "'): 'NFe' deve ser seguido de 44 dígitos, há " +
                                            std::to_string(id.size() - 3) + " caracteres"};
    d.key = id.substr(3);
    if (!AccessKeyValid(d.key))
        throw Refused{"NFe/infNFe/@Id", "dígito verificador da chave de acesso não confere ('" + d.key + "')"};

    Fields ide = inf.Child("ide");
    d.model = ide.Text("mod");
    if (d.model != "55" && (d.model != "65" || !layout->consumerModel))
        throw Refused{ide.Path("mod"), "modelo não suportado ('" + d.model + "') no leiaute " + d.version +
                                           (layout->consumerModel ? "; aceitos 55 e 65" : "; aceito 55")};
    d.series = ide.Text("serie");
    d.number = static_cast<long>(ide.Amount("nNF", 0, true));
    if (d.number < 1 || d.number > 999999999)
        throw Refused{ide.Path("nNF"), "número do documento fora do intervalo"};
    d.type = ide.Choice("tpNF", {0, 1});
    d.purpose = ide.Choice("finNFe", {1, 2, 3, 4});
    d.homologation = ide.Choice("tpAmb", {1, 2}) == 2;
    d.issueDate = day(ide, layout->issueDate, true);
    d.moveDate = day(ide, layout->moveDate, false);
    if (d.moveDate.empty())
        d.moveDate = d.issueDate;
    if (d.key.compare(20, 2, d.model) != 0)
        throw Refused{ide.Path("mod"), "modelo diferente do da chave de acesso"};

    d.issuer = party(inf.Child("emit"), "enderEmit", true);
    if (Fields dest = inf.Child("dest", false); dest.Node())
        d.recipient = party(dest, "enderDest", false);
    else if (d.model == "55")
        throw Refused{inf.Path("dest"), "campo obrigatório ausente"};

    for (pugi::xml_node det = inf.Node().child("det"); det; det = det.next_sibling("det"))
        d.items.push_back(item(Fields(det, "NFe/infNFe/det[" + std::string(det.attribute("nItem").value()) + "]"),
                               layout->returnsIpi));
    if (d.items.empty())
        throw Refused{"NFe/infNFe/det", "documento sem itens"};
    d.total = inf.Child("total").Child("ICMSTot").Amount("vNF", 2, true);

    if (protocol) {
        const Fields protRoot(protocol, "protNFe");
        const Fields prot = protRoot.Child("infProt");
        const std::string status = prot.Text("cStat");
        if (status != "100" && status != "150") {
            const std::string why = prot.Optional("xMotivo").value_or("");
            throw Refused{"protNFe/infProt/cStat",
                          "documento não autorizado (situação " + status + (why.empty() ? "" : ": " + why) + ")"};
        }
        if (prot.Text("chNFe") != d.key)
            throw Refused{"protNFe/infProt/chNFe", "protocolo de outra chave de acesso"};
        d.authorised = true;
    }
    return d;
}

NfeContent event(pugi::xml_node root)
{
    const bool withReturn = std::strcmp(root.name(), "procEventoNFe") == 0;
    pugi::xml_node ev = withReturn ? root.child("evento") : root;
    const Fields evRoot(ev, "evento");
    const Fields inf = evRoot.Child("infEvento");
    const std::string type = inf.Text("tpEvento");
    const std::string key = inf.Text("chNFe");
    if (!AccessKeyValid(key))
        throw Refused{inf.Path("chNFe"), "dígito verificador da chave de acesso não confere ('" + key + "')"};
    if (type != "110111")
        return NfeOtherEvent{type, key};
    if (!withReturn)
        throw Refused{"procEventoNFe", "cancelamento sem o registro de autorização do evento"};
    const Fields procRoot(root, "procEventoNFe");
    const Fields retEvento = procRoot.Child("retEvento");
    const Fields ret = retEvento.Child("infEvento");
    const std::string status = ret.Text("cStat");
    if (status != "135" && status != "136" && status != "155")
        throw Refused{"retEvento/infEvento/cStat", "cancelamento não homologado (situação " + status + ")"};
    return NfeCancellation{key};
}

std::string notNfe(const std::string &root)
{
    const std::string r = lower(root);
    if (r.find("cte") != std::string::npos)
        return "CT-e (conhecimento de transporte) não é importado";
    if (r.find("mdfe") != std::string::npos)
        return "MDF-e (manifesto de documentos) não é importado";
    if (r.find("nfse") != std::string::npos || r.find("nfs-e") != std::string::npos || r.find("rps") != std::string::npos)
        return "NFS-e (nota fiscal de serviço) não é importada";
    return "não é uma NF-e nem um evento de NF-e (elemento raiz '" + root + "')";
}

} // namespace

int AccessKeyCheckDigit(const std::string &first43)
{
    int sum = 0, weight = 2;
    for (auto it = first43.rbegin(); it != first43.rend(); ++it) {
        sum += (*it - '0') * weight;
        weight = weight == 9 ? 2 : weight + 1;
    }
    const int rest = sum % 11;
    return rest < 2 ? 0 : 11 - rest;
}

bool AccessKeyValid(const std::string &key)
{
    if (key.size() != 44 || !std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return AccessKeyCheckDigit(key.substr(0, 43)) == key[43] - '0';
}

Cents NfeItem::AccountingValue() const
{
    Cents v = goods - discount + freight + insurance + other + importTax + ipiReturned;
    if (ipi)
        v += ipi->tax;
    if (icms) {
        v += icms->stTax + icms->fcpSt;
        if (icms->deductExonerated)
            v -= icms->exonerated;
    }
    return v;
}

NfeContent ReadNfe(const char *data, std::size_t size)
{
    pugi::xml_document doc;
    // parse_doctype keeps the DOCTYPE as a node so it can be refused; entities
    // are never expanded either way.
    const pugi::xml_parse_result parsed =
        doc.load_buffer(data, size, pugi::parse_default | pugi::parse_doctype, pugi::encoding_auto);
    if (!parsed)
        return NfeRefusal{"", std::string("XML mal formado (") + parsed.description() + ", posição " +
                                  std::to_string(parsed.offset) + ")"};
    if (nestedPast(doc, kMaxXmlDepth))
        return NfeRefusal{"", "XML aninhado em mais de " + std::to_string(kMaxXmlDepth) +
                                  " níveis; uma NF-e tem bem menos"};
    for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling())
        if (n.type() == pugi::node_doctype)
            return NfeRefusal{"DOCTYPE", "XML com DTD ou declaração de entidades não é aceito"};
    pugi::xml_node root = doc.document_element();
    const std::string name = root.name();
    const bool known = name == "nfeProc" || name == "NFe" || name == "procEventoNFe" || name == "evento";
    if (!known)
        return NfeRefusal{name, notNfe(name)};
    if (std::string(root.attribute("xmlns").value()) != kNfeNamespace)
        return NfeRefusal{name + "/@xmlns", "espaço de nomes errado ('" + std::string(root.attribute("xmlns").value()) +
                                                "'); esperado " + kNfeNamespace};
    try {
        if (name == "nfeProc") {
            pugi::xml_node nfe = root.child("NFe");
            if (!nfe)
                throw Refused{"nfeProc/NFe", "campo obrigatório ausente"};
            return document(nfe, root.child("protNFe"));
        }
        if (name == "NFe")
            return document(root, pugi::xml_node());
        return event(root);
    } catch (const Refused &r) {
        return NfeRefusal{r.field, r.reason};
    }
}
