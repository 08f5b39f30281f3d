#include "package_loader.h"

#include "rtl/classes.h"
#include "rtl/sysutils.h"

#include <dlfcn.h>
#include <filesystem>
#include <unistd.h>

PackageLoader::~PackageLoader()
{
    try {
        Unload();
    } catch (...) {
    }
}

void *PackageLoader::Require(const char *name) const
{
    dlerror();
    void *sym = dlsym(handle_, name);
    if (!sym)
        throw Exception("O pacote " + path_ + " não exporta '" + name + "'.");
    return sym;
}

void PackageLoader::Load(const std::string &path)
{
    Unload();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char *why = dlerror();
        throw Exception("Não foi possível carregar o pacote " + path + ": " + (why ? why : "erro desconhecido"));
    }
    path_ = path;
    try {
        iniProc_ = reinterpret_cast<void (*)()>(Require("IniProc"));
        initialize_ = reinterpret_cast<void (*)()>(Require("Initialize"));
        finalize_ = reinterpret_cast<void (*)()>(Require("Finalize"));
        Require("GetPackageInfoTable");
        Require("CriaResumoNOficialCFOp");
    } catch (...) {
        dlclose(handle_);
        ForgetCachedCasts();
        handle_ = nullptr;
        throw;
    }
    initialize_();
}

void PackageLoader::Unload()
{
    if (!handle_)
        return;
    finalize_();
    dlclose(handle_);
    ForgetCachedCasts();
    handle_ = nullptr;
    iniProc_ = initialize_ = finalize_ = nullptr;
}

void PackageLoader::IniProc() const
{
    if (!iniProc_)
        throw Exception("Nenhum pacote carregado.");
    iniProc_();
}

void *PackageLoader::Symbol(const std::string &name) const
{
    return handle_ ? dlsym(handle_, name.c_str()) : nullptr;
}

std::string PackageLoader::DefaultPath()
{
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    auto dir = ec ? std::filesystem::current_path() : exe.parent_path();
    for (auto candidate : {dir / "../lib/Pkg_Fis02800.so", dir / "Pkg_Fis02800.so", dir / "lib/Pkg_Fis02800.so"})
        if (std::filesystem::exists(candidate, ec))
            return std::filesystem::weakly_canonical(candidate).string();
    return (dir / "../lib/Pkg_Fis02800.so").string();
}
