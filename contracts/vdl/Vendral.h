#pragma once
// Host settings the screens ask for.
#include "rtl/sysutils.h"

enum TPictType { ptProduto = 0, ptConta, ptCentroCusto };

namespace Vendral {
// The edit mask of a code picture; product tree codes for picture type 0.
AnsiString DBPict(TPictType type);
// Host and port of the application server.
AnsiString WebURL();
int WebPort();
} // namespace Vendral
