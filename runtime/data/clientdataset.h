#pragma once
// A data set filled whole from a data packet, the JSON form in which the
// application server sends rows:
//   {"fields":[{"name":"CDSERIE","type":"string","size":5},...],
//    "rows":[["1","Serie 1"],[null,"x"],...]}
// or, when the server failed, an error reply {"error":"TEXT"}.
#include "data/dataset.h"

#include <string>

class TClientDataSet : public TDataSet {
public:
    explicit TClientDataSet(TComponent *owner = nullptr) : TDataSet(owner) {}
    const char *ClassName() const override { return "TClientDataSet"; }
    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;

    // Loads a packet and opens on its first row. Each persistent field must
    // be in the packet under its exact name (extra columns are ignored) and
    // no value may exceed the field's Size in characters. An error reply, a
    // malformed packet or a mismatch raises EDatabaseError and leaves the
    // previous rows and cursor untouched.
    void SetData(const std::string &packet);
    const std::string &Data() const { return packet_; }

protected:
    ResultSet InternalOpen() override;
    int DefaultFieldSize(std::size_t column) const override;

private:
    std::string packet_;
    ResultSet rows_;
    std::vector<int> sizes_;  // declared per column, 0 when the packet gives none
    bool loaded_ = false;
};

// Builds a packet from a result; sizes[i] is the declared size of column i
// (0 or missing leaves it out).
std::string MakeDataPacket(const ResultSet &result, const std::vector<int> &sizes);
std::string MakeErrorReply(const std::string &text);
bool IsErrorReply(const std::string &reply);
std::string ErrorReplyText(const std::string &reply);  // "" when not an error reply
