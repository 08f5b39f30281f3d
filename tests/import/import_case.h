#pragma once
// One import test on each engine the suite reaches: a database of its own
// (import_target.h) and its writing connection, skipped where the engine is
// not configured.
#include "import_target.h"

#include <gtest/gtest.h>

class ImportCase : public ::testing::TestWithParam<const ImportEngine *> {
protected:
    void SetUp() override
    {
        if (auto why = ImportTarget::Unavailable(*GetParam()); !why.empty())
            GTEST_SKIP() << why;
        target_ = std::make_unique<ImportTarget>(*GetParam());
        db_ = target_->Open();
    }
    std::string one(const std::string &sql, const ImportConnection::Values &v = {}) { return One(*db_, sql, v); }

    std::unique_ptr<ImportTarget> target_;
    std::unique_ptr<ImportConnection> db_;
};
