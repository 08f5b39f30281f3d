#pragma once
// What an NF-e file holds, as read: a document (model 55, and 65 from layout
// 3.10; layouts 2.00, 3.10 and 4.00; bare or with its authorisation), a cancellation, another event,
// or a refusal naming the field and the reason in Portuguese. Nothing here
// knows the database.
#include "import/amounts.h"
#include "import/document.h"

#include <cstddef>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// One tax of one item as the invoice states it, before any booking rule.
struct NfeIcms {
    std::string group;      // "ICMS00", "ICMSSN102", ...
    std::string origin;     // orig: the goods' origin, one digit
    std::string cst;        // CST (two digits) or CSOSN (three)
    Cents base = 0, tax = 0;
    std::int64_t rate = 0;  // percent, in hundredths; pCredSN when the Simples states no pICMS
    Cents stBase = 0, stTax = 0, fcpSt = 0;
    Cents exonerated = 0;   // vICMSDeson
    bool deductExonerated = false;  // indDeduzDeson = 1
};

struct NfeIpi {
    bool taxed = false;     // IPITrib; false: IPINT
    std::string cst;
    Cents base = 0, tax = 0;
    std::int64_t rate = 0;
};

struct NfeIss {
    Cents base = 0, tax = 0;
    std::int64_t rate = 0;
};

struct NfeItem {
    int number = 0;
    std::string code, name, cfop;
    std::int64_t quantity = 0;  // thousandths
    Cents unitValue = 0, goods = 0, discount = 0, freight = 0, insurance = 0, other = 0;
    Cents importTax = 0;        // vII
    Cents ipiReturned = 0;      // vIPIDevol
    std::optional<NfeIcms> icms;
    std::optional<NfeIpi> ipi;
    std::optional<NfeIss> iss;

    // vProd - vDesc + vFrete + vSeg + vOutro + vIPI + vICMSST + vFCPST + vII
    // + vIPIDevol, less an exonerated ICMS the issuer deducts.
    Cents AccountingValue() const;
};

// emit and dest: the same party as any format's.
using NfeParty = FiscalParty;

struct NfeDocument {
    std::string key;           // 44 digits, check digit verified
    std::string version;       // "2.00", "3.10" or "4.00"
    std::string model;         // "55" or "65"
    std::string series;
    long number = 0;
    int type = 1;              // tpNF: 0 entry, 1 exit
    int purpose = 1;           // finNFe: 4 is a return
    std::string issueDate;     // YYYY-MM-DD
    std::string moveDate;      // YYYY-MM-DD; the issue date when not given
    NfeParty issuer;
    std::optional<NfeParty> recipient;  // NFC-e may have none
    std::vector<NfeItem> items;
    Cents total = 0;           // vNF
    bool homologation = false; // tpAmb 2: issued in the test environment, no fiscal value
    bool authorised = false;   // came with its protocol (cStat 100 or 150)
};

struct NfeCancellation {
    std::string key;           // the cancelled document's
};

struct NfeOtherEvent {
    std::string type;          // tpEvento, e.g. 110110 (correction letter)
    std::string key;
};

struct NfeRefusal {
    std::string field;         // path of the element or attribute, may be empty
    std::string reason;        // Portuguese
};

using NfeContent = std::variant<NfeDocument, NfeCancellation, NfeOtherEvent, NfeRefusal>;

// Reads one XML text. Never expands entities: a DTD or an entity
// declaration is refused, as are other XML kinds (CT-e, MDF-e, NFS-e).
NfeContent ReadNfe(const char *data, std::size_t size);

// True when the last of 44 digits is the modulo-11 check digit of the others.
bool AccessKeyValid(const std::string &key);
// The check digit for 43 digits.
int AccessKeyCheckDigit(const std::string &first43);
