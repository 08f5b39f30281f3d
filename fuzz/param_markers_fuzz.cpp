// The parameter-marker parser on any statement text: every marker it finds
// is a colon followed by the name it reports, in order, inside the text.
#include "data/params.h"
#include "data/sqlparams.h"

#include "fuzz_require.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string sql(reinterpret_cast<const char *>(data), size);
    std::size_t after = 0;
    for (const ParamMarker &m : FindParamMarkers(sql)) {
        require(m.offset >= after && m.offset + m.length <= sql.size());
        require(sql[m.offset] == ':' && m.length == m.name.size() + 1 && !m.name.empty());
        require(sql.compare(m.offset + 1, m.name.size(), m.name) == 0);
        after = m.offset + m.length;
    }
    const std::vector<std::string> names = ParamNames(sql);
    for (std::size_t i = 0; i < names.size(); ++i)
        for (std::size_t j = i + 1; j < names.size(); ++j)
            require(!SameName(names[i], names[j]));
    TParams params;
    params.ParseSQL(sql);
    require(params.Count() == static_cast<int>(names.size()));
    for (std::size_t i = 0; i < sql.size(); ++i)
        if (sql[i] == '\'' || sql[i] == '"') {
            const std::size_t end = SkipQuotedRun(sql, i);
            require(end > i && end <= sql.size());
        }
    return 0;
}
