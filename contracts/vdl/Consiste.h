#pragma once
// Checks and conversions shared by every screen.
#include "rtl/sysutils.h"

namespace Consiste {
// Empty, or only blanks.
bool EmptyString(const AnsiString &text);
// Left-pads with '0' to `width` characters; a text already that wide or
// wider is returned unchanged.
AnsiString Ajusta(const AnsiString &text, int width);
// Shows `text` as an error; with `raise` true ends the person's action with a
// silent abort, so the message is the only one shown.
void MensErro(const AnsiString &text, bool raise);
// Given a server reply: with `raise` true an error reply raises its message;
// otherwise the reply is the data packet to load. `flags` is unused (0).
AnsiString CheckResultServ(const AnsiString &reply, bool raise, int flags);
} // namespace Consiste
