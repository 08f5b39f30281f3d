#include "vdl/Consiste.h"

#include "data/clientdataset.h"
#include "rtl/utf8.h"
#include "vcl/widgetset.h"

namespace Consiste {

bool EmptyString(const AnsiString &text) { return text.find_first_not_of(" \t\r\n") == std::string::npos; }

AnsiString Ajusta(const AnsiString &text, int width)
{
    const auto length = static_cast<int>(utf8::length(text));
    if (length >= width)
        return text;
    return std::string(static_cast<std::size_t>(width - length), '0') + text;
}

void MensErro(const AnsiString &text, bool raise)
{
    WidgetSet().ShowMessage(text, MessageKind::Error);
    if (raise)
        Abort();
}

AnsiString CheckResultServ(const AnsiString &reply, bool raise, int)
{
    if (IsErrorReply(reply)) {
        if (raise)
            throw Exception(ErrorReplyText(reply));
        return {};
    }
    return reply;
}

} // namespace Consiste
