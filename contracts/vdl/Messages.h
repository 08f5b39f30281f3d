#pragma once
// A keyed message table: lines "key|text". Every text a screen shows comes
// from one by key.
#include "rtl/classes.h"

#include <string>
#include <vector>

class TMessages : public TComponent {
public:
    explicit TMessages(TComponent *owner);
    const char *ClassName() const override { return "TMessages"; }

    const std::vector<std::string> &Messages() const { return lines_; }
    void SetMessages(std::vector<std::string> lines) { lines_ = std::move(lines); }
    // The text after the first "|" of the first line whose key matches
    // exactly; the empty text when the table has no such key.
    AnsiString Msg(const AnsiString &key) const;
    bool HasKey(const AnsiString &key) const;

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;

private:
    std::vector<std::string> lines_;
};
