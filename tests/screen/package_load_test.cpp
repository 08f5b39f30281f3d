// The built package, loaded with dlopen as the host loads it.
#include "package_loader.h"
#include "rtl/sysutils.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

namespace {

struct PackageInfoTable {
    int unitCount;
    const struct Entry {
        const char *name;
        void (*initialization)();
        void (*finalization)();
    } *units;
};

TEST(PackageLoadTest, ExportsEveryEntryByItsPlainName)
{
    void *h = dlopen(FIS_PACKAGE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr) << dlerror();
    const char *const exports[] = {
        "IniProc", "CriaResumoNOficialCFOp", "Initialize", "Finalize", "GetPackageInfoTable",
        "Cli_Fis02800_initialization", "Cli_Fis02800_Finalization",
        "frmResumoOficialCfop", "boStCriado", "stProdIni", "stProdFin", "stListaMod", "stListaTp",
        "_ZTI21TfrmResumoOficialCfop",  // the screen class's type information
    };
    for (const char *name : exports)
        EXPECT_NE(dlsym(h, name), nullptr) << name;

    auto table = reinterpret_cast<const PackageInfoTable *(*)()>(dlsym(h, "GetPackageInfoTable"))();
    ASSERT_EQ(table->unitCount, 2);
    EXPECT_STREQ(table->units[0].name, "Cli_Fis02800");
    EXPECT_STREQ(table->units[1].name, "Pkg_Fis02800");
    dlclose(h);
}

TEST(PackageLoadTest, MissingPackageOrExportIsAClearError)
{
    PackageLoader loader;
    try {
        loader.Load("/nonexistent/Pkg_Fis02800.so");
        FAIL() << "loaded a package that does not exist";
    } catch (const Exception &e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/Pkg_Fis02800.so"), std::string::npos);
    }
    // A library without the entries is refused, naming the missing export.
    try {
        loader.Load("libm.so.6");
        FAIL() << "accepted a library that is no package";
    } catch (const Exception &e) {
        EXPECT_NE(std::string(e.what()).find("'IniProc'"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(loader.Loaded());
}

} // namespace
