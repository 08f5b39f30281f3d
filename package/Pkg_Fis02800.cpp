#include "Pkg_Fis02800.h"

#include "Cli_Fis02800.h"

namespace {
int packageUnitLoadCount = 0;

// The package unit itself has nothing to set up; it keeps its counter only.
void Pkg_Fis02800_initialization() { --packageUnitLoadCount; }
void Pkg_Fis02800_Finalization() { ++packageUnitLoadCount; }

const PackageUnitEntry kUnits[] = {
    {"Cli_Fis02800", &Cli_Fis02800_initialization, &Cli_Fis02800_Finalization},
    {"Pkg_Fis02800", &Pkg_Fis02800_initialization, &Pkg_Fis02800_Finalization},
};
const PackageInfoTable kTable = {static_cast<int>(sizeof kUnits / sizeof kUnits[0]), kUnits};
} // namespace

extern "C" {

void IniProc() { CriaResumoNOficialCFOp(); }

void Initialize()
{
    for (int i = 0; i < kTable.unitCount; ++i)
        kTable.units[i].initialization();
}

void Finalize()
{
    for (int i = kTable.unitCount - 1; i >= 0; --i)
        kTable.units[i].finalization();
}

const PackageInfoTable *GetPackageInfoTable() { return &kTable; }

int Pkg_Fis02800_LoadCount() { return -packageUnitLoadCount; }
}
