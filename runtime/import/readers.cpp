// The import's formats, one line each; the first that recognises a file
// reads it. A format's reader lives in its own file.
#include "import/reader.h"

const DocumentReader &NfeXmlReader();  // nfe_format.cpp
const DocumentReader &EfdTextReader();  // efd_format.cpp

const std::vector<const DocumentReader *> &DocumentReaders()
{
    static const std::vector<const DocumentReader *> readers{
        &NfeXmlReader(),
        &EfdTextReader(),
    };
    return readers;
}

const DocumentReader *ReaderFor(std::string_view head, const std::vector<const DocumentReader *> &readers)
{
    for (const DocumentReader *r : readers)
        if (r->Recognises(head))
            return r;
    return nullptr;
}
