// The data-packet reader of the client data sets, on any bytes: a packet is
// either loaded whole or refused with the data-access error, never half.
#include "data/clientdataset.h"
#include "data/dberrors.h"

#include "fuzz_require.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string packet(reinterpret_cast<const char *>(data), size);
    (void)IsErrorReply(packet);
    (void)ErrorReplyText(packet);

    // Default fields, taken from the packet itself.
    TClientDataSet loose;
    try {
        loose.SetData(packet);
        require(loose.Data() == packet);
        int rows = 0;
        for (loose.First(); !loose.Eof(); loose.Next()) {
            for (TField *f : loose.Fields())
                (void)f->AsString();
            ++rows;
        }
        require(rows == loose.RecordCount());
    } catch (const EDatabaseError &) {
    }

    // Persistent fields, as the screen declares them for the series: a
    // refused packet leaves the rows loaded before.
    TClientDataSet series;
    TStringField code(&series, "CDSERIE", 5), kind(&series, "TIPO", 1);
    series.SetData(R"({"fields":[{"name":"CDSERIE","type":"string","size":5},{"name":"TIPO","type":"string","size":1}],"rows":[["1","E"]]})");
    try {
        series.SetData(packet);
    } catch (const EDatabaseError &) {
        require(series.RecordCount() == 1 && code.AsString() == "1" && kind.AsString() == "E");
    }
    return 0;
}
