#include "vdl/Vendral.h"

#include "hostpkg.h"

namespace Vendral {

// Product tree codes look like 01.01.0001: group, subgroup, product.
static const char *const kDefaultProductPicture = "99.99.9999;1;_";

AnsiString DBPict(TPictType type)
{
    if (type == ptProduto) {
        const auto &picture = HostSettings().productPicture;
        return picture.empty() ? kDefaultProductPicture : picture;
    }
    return "9999999999;0;_";
}

AnsiString WebURL() { return HostSettings().serverHost; }
int WebPort() { return HostSettings().serverPort; }

} // namespace Vendral
