#pragma once
// The six fiscal reports worked out a second way: the raw rows of the fiscal
// tables read whole, then filtered, grouped and summed in C++ with exact
// integer amounts. The tests hold the reports' own statements against this.
#include "data/session.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

// What the screen's fields hold when a report runs; an empty text is an
// empty field (the report then receives the empty text and the all-flag).
struct ReportInputs {
    std::string company = "01";
    std::string from = "2026-01-01";  // YYYY-MM-DD
    std::string to = "2026-01-31";
    std::string tax = "01";
    char side = 'E';  // 'E' Entrada, 'S' Saída, 'A' Ambos
    std::string cfop;
    std::string registration;  // state, or tax-substitute for the ICMS-ST listing
    std::string municipal;
    std::string number;
    std::string productFrom, productTo;
    std::string series;
    std::string branch;
    std::string operationTypes;  // "E01,S04"
    std::string models;          // "55,65"
};

// One expected cell. Amounts are exact: `scaled` holds the value times
// 10^decimals.
struct Cell {
    enum class Kind { Text, Number } kind = Kind::Text;
    std::optional<std::string> text;
    long long scaled = 0;
    int decimals = 0;

    static Cell Of(std::optional<std::string> t) { return {Kind::Text, std::move(t), 0, 0}; }
    static Cell Amount(long long scaled, int decimals) { return {Kind::Number, std::nullopt, scaled, decimals}; }
};
using ModelRow = std::vector<Cell>;

// How an item's Valor Contábil splits for a tax, in cents: the tax's base,
// tax, exempt and other amounts, the consigned IPI, the retained ST, and
// `rest`, what none of them accounts for (added to Outras when positive).
struct ItemSplit {
    long long value = 0, base = 0, tax = 0, exempt = 0, other = 0, ipi = 0, baseSt = 0, st = 0, rest = 0;
    // A line's sums (its rest is not kept: Outras has it already).
    ItemSplit &operator+=(const ItemSplit &x)
    {
        value += x.value, base += x.base, tax += x.tax, exempt += x.exempt, other += x.other;
        ipi += x.ipi, baseSt += x.baseSt, st += x.st;
        return *this;
    }
};

class FiscalModel {
public:
    // Reads every row of the fiscal tables and the reference rows they use.
    explicit FiscalModel(DatabaseSession &db);

    std::vector<ModelRow> CfopSummary(const ReportInputs &in) const;
    std::vector<ModelRow> CfopProducts(const ReportInputs &in) const;
    // The Registro de Apuração do ICMS: per registration and month of the
    // period, the months before it carrying their credit balance.
    std::vector<ModelRow> Apuracao(const ReportInputs &in) const;
    // The CFOP summary per CST and rate of the chosen tax's row (C190).
    std::vector<ModelRow> CfopCstSummary(const ReportInputs &in) const;
    std::vector<ModelRow> InvoiceList(const ReportInputs &in) const;
    std::vector<ModelRow> StByProduct(const ReportInputs &in) const;
    std::vector<ModelRow> StRefund(const ReportInputs &in) const;
    std::vector<ModelRow> StateRegistrationMap(const ReportInputs &in) const;
    // The CFOP summary's check: each counted document of the company and
    // period that contradicts itself, once per CFOP and reason.
    std::vector<ModelRow> Contradictions(const ReportInputs &in) const;

    // Valor Contábil, base and tax of the items a report counts, summed
    // straight over the items (no grouping): what the report's totals must give.
    struct Totals {
        long long value = 0, base = 0, tax = 0;
    };
    Totals CountedItems(const ReportInputs &in, char side, bool withProductRange, bool withCfop) const;

    std::size_t Documents() const { return docs_.size(); }

private:
    struct Doc {
        long key = 0;
        std::string company, branch, side, series;
        long number = 0;
        std::string model, type, booked;
        std::optional<std::string> registration, municipal, participant, uf;
        bool cancelled = false;
        std::string issued;
        std::optional<std::string> document, partyRegistration;  // CNPJ/CPF and IE of the participant
    };
    struct Item {
        long doc = 0;
        long nr = 0;
        std::string product, cfop;
        long long quantity = 0;  // thousandths
        long long value = 0;     // cents
    };
    struct Tax {
        long long base = 0, tax = 0, exempt = 0, other = 0, baseSt = 0, st = 0;
        long long rate = 0;  // hundredths of a percent
        std::optional<std::string> cst;
    };
    struct Product {
        std::string tree;
        std::optional<std::string> name;
    };

    // Documents of the company booked in the period and not cancelled.
    bool counted(const Doc &d, const ReportInputs &in) const;
    bool sideMatches(const Doc &d, const ReportInputs &in) const;
    bool registrationsMatch(const Doc &d, const ReportInputs &in) const;
    // An item the CFOP summaries count: its document's side, registrations and its CFOP.
    bool summarised(const Doc &d, const Item &i, const ReportInputs &in) const;
    bool productInRange(const Item &i, const ReportInputs &in) const;
    const Tax *taxOf(const Item &i, const std::string &tax) const;
    ItemSplit splitOf(const Item &i, const std::string &tax) const;
    const Product *productOf(const Item &i) const;

    std::map<long, Doc> docs_;
    std::vector<Item> items_;  // in document and item order
    std::map<std::tuple<long, long, std::string>, Tax> taxes_;
    std::map<std::string, Product> products_;
    std::map<std::string, std::string> cfops_;
    std::vector<std::vector<std::optional<std::string>>> registrations_;  // CDEMPRESA, CDINSCESTA, SGESTADO
    std::map<std::pair<std::string, std::string>, std::string> substitutes_;  // (company, ST code) -> state code
    std::map<std::string, std::string> branchStates_;
    std::map<std::string, std::string> activities_;  // company -> IDATIVIDADE
    struct Adjustment {
        std::string company, registration, month, type, code;
        std::optional<std::string> description;
        long long cents = 0;
    };
    std::vector<Adjustment> adjustments_;
    std::map<int, std::string> apuracaoLines_;
};

