#pragma once
// A SQLite file made by an older version, brought up to date when the host
// opens it or an import writes to it: each step reads first, so a database
// that has everything is never written (and may sit where nobody can), and
// writes under the write lock after looking again, so two programs opening
// it at once do the step once.
#include "data/engine.h"

#include <string>

// Write-ahead logging, so reports read while an import writes; left as it is
// where the file cannot be written.
void UseWriteAheadLog(const std::string &path, int busyTimeoutMs = 0);
// The kept CFOP summary and the triggers that keep it, its documents summed
// once (one made before the daily ICMS the apuração reads, that alone);
// nothing where it has them, or where it lacks the document tables.
// Raises EDatabaseError where it lacks them and cannot be written.
void AddKeptSummary(const std::string &path, const UpgradeFixtures &fixtures, int busyTimeoutMs = 0);
// The codes of the annex (fixtures/cfop.sql) its CFOP table lacks, keeping
// the descriptions it has; a database that cannot be written is left.
void AddMissingCfops(const std::string &path, const UpgradeFixtures &fixtures, int busyTimeoutMs = 0);
// The columns added since (a tax row's CST, a document's participant CNPJ/CPF
// and IE), empty on the rows it holds, and the tables added since (branches'
// states, fiscal months, the company's activity, the apuração's lines and
// adjustments) with the rows every database shares; a database that cannot
// be written is left.
void AddMissingColumns(const std::string &path, const UpgradeFixtures &fixtures, int busyTimeoutMs = 0);
// All of the above: the engine's upgrade hook.
void UpgradeSqliteDatabase(const EngineConnection &c, const UpgradeFixtures &fixtures, bool writing);
