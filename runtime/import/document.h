#pragma once
// A fiscal document as the import books it, whatever file it came from: a
// reader fills what its format states, the booking writes it and never asks
// which format that was. Amounts are exact (amounts.h); dates are days,
// YYYY-MM-DD. Nothing here knows a format or the database.
//
// Invoices (NF-e) come item by item with the issuer's CFOPs and product
// codes; a bookkeeping file (EFD) may state a document only by its
// analytical lines (CST, CFOP and rate with their values), each then an item
// without product, and already with the company's CFOPs and codes.
#include "import/amounts.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The taxes the books know, each with its row code in IMPOSTONFE.
enum class TaxCode { Icms, Iss, Ipi, Pis, Cofins, IcmsSt, Fcp, Fee };

constexpr const char *TaxTableCode(TaxCode tax)
{
    switch (tax) {
    case TaxCode::Icms: return "01";
    case TaxCode::Iss: return "02";
    case TaxCode::Ipi: return "03";
    case TaxCode::Pis: return "04";
    case TaxCode::Cofins: return "05";
    case TaxCode::IcmsSt: return "06";
    case TaxCode::Fcp: return "07";
    case TaxCode::Fee: return "08";
    }
    return "";
}

// One tax of one item as the document states it, before any booking rule.
struct FiscalTax {
    TaxCode code = TaxCode::Icms;
    std::string cst;        // CST (two digits) or CSOSN (three); empty when not stated
    Cents base = 0, value = 0;
    std::int64_t rate = 0;  // percent, in hundredths
    bool levied = true;     // false: stated as not levied on the item (IPI not taxed)
    std::string origin = {};  // ICMS: the goods' origin (one digit), when stated apart from the CST
};

struct FiscalProduct {
    std::string code, name;  // whose code it is: see FiscalDocument::codesFrom
};

struct FiscalItem {
    int number = 0;
    std::optional<FiscalProduct> product;  // none: an analytical line
    std::string cfop;
    std::int64_t quantity = 0;  // thousandths
    Cents unitValue = 0;
    // The parts of the value as stated; the booking reads only accountingValue.
    Cents goods = 0, discount = 0, freight = 0, insurance = 0, other = 0;
    Cents accountingValue = 0;  // Valor Contábil, by the format's own sum
    Cents importTax = 0;        // II, part of accountingValue; a document's total may leave it out
    std::vector<FiscalTax> taxes;

    const FiscalTax *Tax(TaxCode code) const
    {
        for (const FiscalTax &t : taxes)
            if (t.code == code)
                return &t;
        return nullptr;
    }
};

struct FiscalParty {
    std::string document;      // CNPJ, CPF or foreign id, as written
    std::string name;
    std::string registration;  // IE
    std::string municipalRegistration;  // IM
    std::string state;         // UF ("EX" abroad)
    // indIEDest of a recipient: '1' contributor with its IE, '2' contributor
    // exempt of registration, '9' no contributor; 0 when not stated.
    char contributor = 0;
};

enum class Direction { Entry, Exit };  // as the issuer states it
enum class Purpose { Normal, Complementary, Adjustment, Return };
enum class Situation { Regular, Cancelled, Denied, Unused };
// Whose CFOPs and product codes the items carry: the issuer's (an invoice),
// or the company's own (a bookkeeping file, already booked once).
enum class CodesFrom { Issuer, Company };

struct FiscalHeader {
    // Identity: the access key when the document has one, else model,
    // series, number, issuer and issue date.
    std::string key;           // 44 digits, or empty
    std::string model;         // "55", "65", "01", "06", ...
    std::string series;
    long number = 0;
    Direction direction = Direction::Exit;
    Purpose purpose = Purpose::Normal;
    Situation situation = Situation::Regular;
    std::string issueDate;
    std::string moveDate;      // entry or exit; the issue date when not stated
    // Issued in the authority's test environment: no fiscal value.
    bool trial = false;
    // An electronic document that came without its authorisation: booked,
    // and listed so someone checks it.
    bool withoutAuthorisation = false;
};

struct FiscalDocument {
    FiscalHeader header;
    FiscalParty issuer;
    std::optional<FiscalParty> recipient;  // a consumer's document may have none
    CodesFrom codesFrom = CodesFrom::Issuer;
    std::vector<FiscalItem> items;
    Cents total = 0;           // the document's total as it states it
};

struct FiscalCancellation {
    std::string key;           // the cancelled document's
};

struct FiscalOtherEvent {
    std::string type, key;     // e.g. 110110 (correction letter)
};

// An adjustment of the month's ICMS apuração, as a bookkeeping file states
// it for the company of its file.
struct FiscalAdjustment {
    std::string month;         // its first day, YYYY-MM-DD
    int number = 0;            // its order in the month
    char type = '0';           // 0 other debits, 1 reversed credits, 2 other credits, 3 reversed debits, 4 deductions
    std::string code, description;
    Cents value = 0;
};
