#pragma once
// NF-e 4.00 files for the import's tests, benchmark and demo: documents the
// company issues and receives (sales within the state, to other states and
// abroad, NFC-e, purchases with and without tax substitution, from
// suppliers under the simplified regime, an import, services with ISS,
// returns), every ICMS situation the import books, IPI, ST, and
// cancellation and correction events. Deterministic for a given count.
#include <string>

struct NfeFileOptions {
    std::string dir;         // written into DIR/YYYY-MM/, created if missing
    long count = 100;        // documents, 1 .. 10,000,000
    int year = 2026;
    // The company the documents belong to: demo company 01's registration.
    std::string registration = "110042490114";
    std::string state = "SP";
    std::string taxId = "12345678000195";
};

struct NfeFileCounts {
    long documents = 0, items = 0, cancellations = 0, otherEvents = 0;
};

// Raises Exception for a bad count or a folder that cannot be written.
NfeFileCounts WriteNfeFiles(const NfeFileOptions &options);
