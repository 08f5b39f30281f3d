#pragma once
// The EFD ICMS/IPI text file as filed: pipe-delimited records from |0000|
// to |9999|, read line by line so a file of any size takes the same memory.
// Each record's field count follows the layout version of its 0000; what
// the file says is handed on a document (C100, C500, D100 with their
// children) or an apuração (E110, E210) at a time. The import (efd_format.cpp)
// and the check against the books both read it here; nothing here knows the
// database.
#include "import/amounts.h"
#include "import/sources.h"

#include <array>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Why a file cannot be read: where, and in Portuguese.
struct EfdFault {
    long line = 0;
    std::string record, field;  // field: its name in the layout ("VL_OPR")
    std::string reason;
    std::string Place() const;  // "linha 12, registro C190, campo VL_OPR"
};

struct EfdIdentity {
    int layout = 0;              // COD_VER, 12 for "012"
    std::string finality;        // COD_FIN: 0 original, 1 substitute
    std::string from, to;        // the period, YYYY-MM-DD
    std::string name, cnpj, cpf, state, registration, municipality;
};

struct EfdParticipant {
    std::string name, country, cnpj, cpf, registration, municipality;
    std::string State() const;   // from the municipality's code; "EX" abroad
};

// A C190, C590 or D190: the document's values per CST, CFOP and rate.
struct EfdAnalytical {
    long line = 0;
    std::string cst, cfop;
    std::int64_t rate = 0;       // hundredths of a percent
    Cents operation = 0, base = 0, icms = 0, stBase = 0, st = 0, reduction = 0, ipi = 0;
};

struct EfdItem {  // C170
    long line = 0;
    int number = 0;
    std::string code, cst, cfop;
    std::int64_t quantity = 0, rate = 0;  // thousandths; hundredths of a percent
    Cents value = 0, discount = 0, base = 0, icms = 0, stBase = 0, st = 0, ipiBase = 0, ipi = 0;
    std::int64_t ipiRate = 0;
    std::string ipiCst;
};

// A C197 (a document's adjustment) or an E111 (the apuração's).
struct EfdAdjustment {
    long line = 0;
    std::string code, description;
    Cents base = 0, value = 0;
};

struct EfdDocument {
    std::string record;          // C100, C500 or D100
    long line = 0;
    bool exit = false;           // IND_OPER 1
    bool ownIssue = true;        // IND_EMIT 0
    std::string participant, model, situation, series, key, issueDate, moveDate;
    long number = 0;
    Cents total = 0, discount = 0, goods = 0, freight = 0, insurance = 0, other = 0;
    Cents base = 0, icms = 0, stBase = 0, st = 0, ipi = 0;  // the header's totals
    std::vector<EfdItem> items;
    std::vector<EfdAnalytical> lines;
    std::vector<EfdAdjustment> adjustments;

    // COD_SIT 02, 03, 04, 05: cancelled, denied or unused, in no total.
    bool Void() const { return situation == "02" || situation == "03" || situation == "04" || situation == "05"; }
};

struct EfdObligation {  // E116
    long line = 0;
    std::string code, due, revenue;
    Cents value = 0;
};

// E110 with its E111 and E116. `field[n]` is field n as the layout numbers
// it (02 VL_TOT_DEBITOS ... 15 DEB_ESP).
struct EfdApuracao {
    long line = 0;
    std::string from, to;        // its E100
    std::array<Cents, 16> field{};
    std::vector<EfdAdjustment> adjustments;
    std::vector<EfdObligation> obligations;
};

// What the file counts against what it holds.
struct EfdTotals {
    long lines = 0;               // up to and including 9999
    long declaredLines = 0;       // 9999 QTD_LIN
    long closingLine = 0;
    std::map<std::string, long> records;   // per record, as read
    std::map<std::string, std::pair<long, long>> declared;  // 9900: count and its line
    long skipped = 0;             // records read past, not taken
};

struct EfdTables {
    std::unordered_map<std::string, EfdParticipant> participants;  // by COD_PART
    std::unordered_map<std::string, std::string> products;          // COD_ITEM → DESCR_ITEM
};

class EfdHandler {
public:
    virtual ~EfdHandler() = default;
    // Each returns false to stop reading.
    virtual bool Opened(const EfdIdentity &) { return true; }
    virtual bool Document(const EfdDocument &d, const EfdTables &tables) = 0;
    virtual bool Apuracao(const EfdApuracao &) { return true; }
    // After 9999, when the whole file was read.
    virtual void Closed(const EfdTotals &) {}
};

enum class EfdOutcome { Read, Stopped, Failed };

// Reads the whole file; Failed with `fault` filled for what cannot be read
// (a stream problem included: its reason in `fault.reason`).
EfdOutcome ReadEfd(SourceStream &in, const SourceLimits &limits, EfdHandler &handler, EfdFault &fault);

// The layout versions read (COD_VER), oldest first.
constexpr int kEfdOldestLayout = 12, kEfdNewestLayout = 20;
// The fields of `record` (REG included) under layout `layout`; 0 for a
// record not read here.
std::size_t EfdFieldCount(std::string_view record, int layout);
// The longest line a filed record may have.
constexpr std::size_t kEfdLineChars = 10000;

// Whether an analytical line's ICMS is a debit (E110 field 02: CFOPs of
// exits but 5605, 5929 and 6929, and 1605) or a credit (field 06: CFOPs of
// entries but 1605, and 5605) of the apuração.
bool EfdDebitCfop(std::string_view cfop);
bool EfdCreditCfop(std::string_view cfop);

// The record a document of `model` is filed under: "C100", "C500",
// "D100", or nullptr for a model the EFD ICMS/IPI has elsewhere or not at all.
const char *EfdRecordOfModel(const std::string &model);

// "1234,56" as the file writes it, for the writer and the check's figures.
std::string EfdAmountText(Cents c);
std::string EfdRateText(std::int64_t hundredths);
std::string EfdDateText(const std::string &isoDate);  // "2027-03-01" → "01032027"
