#pragma once
// The formats the import reads. Each is a reader chosen by the first bytes
// of what it is handed, never by the file's name; it turns one stream into
// documents and events handed on one at a time, so a file may hold one
// document or a hundred thousand. A reader refuses what it cannot read, in
// Portuguese, and knows nothing of the database. The list of readers is
// readers.cpp; a new format is one reader file and one line there
// (docs/import.md).
#include "import/document.h"
#include "import/sources.h"

#include <string>
#include <string_view>
#include <vector>

// Where a reader's documents and events go, in the order read. `place`
// names what was read: the source, and where in it when it holds many.
// Each call returns false when reading must stop (the person cancelled).
class DocumentSink {
public:
    virtual ~DocumentSink() = default;
    virtual bool Document(const std::string &place, const FiscalDocument &document) = 0;
    virtual bool Cancellation(const std::string &place, const FiscalCancellation &event) = 0;
    virtual bool OtherEvent(const std::string &place, const FiscalOtherEvent &event) = 0;
    // What the reader could not take: `field` in the format's own terms
    // (may be empty), `reason` in Portuguese.
    virtual bool Refusal(const std::string &place, const std::string &field, const std::string &reason) = 0;

    // A file of one company's many documents, taken whole or not at all:
    // BeginFile before its first document names the company; false when it
    // is none the sink books (it has said why), and the reader hands on
    // nothing of the file. EndFile(false) drops what its documents wrote.
    virtual bool BeginFile(const std::string &, const FiscalParty &) { return true; }
    virtual void EndFile(bool) {}
    // An adjustment of the company's ICMS apuração for a month.
    virtual bool Adjustment(const std::string &, const FiscalAdjustment &) { return true; }
};

// The parts of a document the booking may refuse it for; each reader names
// them as its format does, so a refusal points at the field in the file.
enum class DocumentField { Registration, Direction, ItemCfop, Environment, EntryDate, Total };

class DocumentReader {
public:
    virtual ~DocumentReader() = default;
    // True when `head` (the source's first kHeadBytes, all of it when
    // shorter) starts the way this format does.
    virtual bool Recognises(std::string_view head) const = 0;
    // Reads `in` to its end or until `sink` says stop, then false. When the
    // stream fails, Read gives 0 and the caller reports its Problem().
    virtual bool Read(SourceStream &in, const std::string &name, const SourceLimits &limits,
                      DocumentSink &sink) const = 0;
    // How a refusal names `field`; `item` is the item's number for ItemCfop.
    virtual std::string FieldName(DocumentField field, int item) const = 0;
};

// Every format the import reads, in the order they are asked.
const std::vector<const DocumentReader *> &DocumentReaders();

// The first of `readers` that recognises `head`, or nullptr.
const DocumentReader *ReaderFor(std::string_view head, const std::vector<const DocumentReader *> &readers);
