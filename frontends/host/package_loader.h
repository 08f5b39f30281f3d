#pragma once
// Loads the screen package with dlopen and calls its exported entries.
#include <string>

class PackageLoader {
public:
    PackageLoader() = default;
    ~PackageLoader();
    PackageLoader(const PackageLoader &) = delete;
    PackageLoader &operator=(const PackageLoader &) = delete;

    // Loads the library and finds every entry the host needs; raises
    // Exception naming the file or the missing export. Then runs Initialize.
    void Load(const std::string &path);
    // Runs Finalize and unloads. Safe when nothing is loaded.
    void Unload();
    bool Loaded() const { return handle_ != nullptr; }

    void IniProc() const;
    // An exported variable of the package, nullptr when it has none.
    void *Symbol(const std::string &name) const;
    template <class T>
    T *Global(const std::string &name) const { return static_cast<T *>(Symbol(name)); }

    // The package file beside the running program ("../lib/Pkg_Fis02800.so").
    static std::string DefaultPath();

private:
    void *Require(const char *name) const;

    void *handle_ = nullptr;
    std::string path_;
    void (*iniProc_)() = nullptr;
    void (*initialize_)() = nullptr;
    void (*finalize_)() = nullptr;
};
