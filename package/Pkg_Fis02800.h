#pragma once
// The package's exported entries, as the host looks them up by name.

extern "C" {
// One unit of the package: its initialisation and finalisation.
struct PackageUnitEntry {
    const char *name;
    void (*initialization)();
    void (*finalization)();
};
struct PackageInfoTable {
    int unitCount;
    const PackageUnitEntry *units;
};

// The host's entry: opens the screen (or brings it to the front).
void IniProc();
// Runs every unit's initialisation in table order / finalisation in reverse.
void Initialize();
void Finalize();
const PackageInfoTable *GetPackageInfoTable();
// How many times the package unit's own counter says it was initialised (for tests).
int Pkg_Fis02800_LoadCount();
}
