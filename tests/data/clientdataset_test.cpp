#include "data/clientdataset.h"
#include "data/dberrors.h"

#include <gtest/gtest.h>

namespace {
const std::string kSeries =
    R"({"fields":[{"name":"CDSERIE","type":"string","size":5},)"
    R"({"name":"DSSERIE","type":"string","size":20},{"name":"ID","type":"string","size":1}],)"
    R"("rows":[["1","Serie 1","E"],["U",null,"S"]]})";

class SeriesDataSet : public testing::Test {
protected:
    TClientDataSet cds;
    TStringField code{&cds, "CDSERIE", 5};
    TStringField text{&cds, "DSSERIE", 20};

    void SetUp() override
    {
        cds.SetName("cdsSerie");
        cds.SetData(kSeries);
        cds.Next();  // the cursor must survive a refused packet
    }
};

struct PacketCase {
    const char *label;
    std::string packet;
    const char *error;  // part of the message; nullptr when accepted
    std::vector<std::string> codes;
};

class PacketTest : public SeriesDataSet, public testing::WithParamInterface<PacketCase> {};

TEST_P(PacketTest, LoadsOrRefusesKeepingPreviousRows)
{
    const PacketCase &c = GetParam();
    if (c.error) {
        try {
            cds.SetData(c.packet);
            FAIL() << "packet accepted";
        } catch (const EDatabaseError &e) {
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
        EXPECT_EQ(cds.RecNo(), 2);
        EXPECT_EQ(code.AsString(), "U");
        EXPECT_EQ(cds.Data(), kSeries);
    } else {
        cds.SetData(c.packet);
        EXPECT_EQ(cds.RecNo(), c.codes.empty() ? 0 : 1);
        EXPECT_TRUE(cds.Bof());
    }
    std::vector<std::string> codes;
    for (cds.First(); !cds.Eof(); cds.Next())
        codes.push_back(code.AsString());
    EXPECT_EQ(codes, c.codes);
}

const std::vector<std::string> kPrevious{"1", "U"};

INSTANTIATE_TEST_SUITE_P(
    Packets, PacketTest,
    testing::Values(
        PacketCase{"match", kSeries, nullptr, kPrevious},
        PacketCase{"extraColumnIgnored",
                   R"({"fields":[{"name":"X","type":"string"},{"name":"DSSERIE","type":"string"},)"
                   R"({"name":"CDSERIE","type":"string","size":5}],"rows":[["a","d","AÇÃO1"]]})",
                   nullptr, {"AÇÃO1"}},
        PacketCase{"emptyRows", R"({"fields":[{"name":"CDSERIE"},{"name":"DSSERIE"}],"rows":[]})",
                   nullptr, {}},
        PacketCase{"missingColumn",
                   R"({"fields":[{"name":"CDSERIE","type":"string"}],"rows":[["9"]]})", "DSSERIE",
                   kPrevious},
        PacketCase{"nameCaseDiffers",
                   R"({"fields":[{"name":"cdserie"},{"name":"DSSERIE"}],"rows":[]})", "CDSERIE",
                   kPrevious},
        PacketCase{"overLong",
                   R"({"fields":[{"name":"CDSERIE"},{"name":"DSSERIE"}],"rows":[["123456","x"]]})",
                   "CDSERIE", kPrevious},
        PacketCase{"errorReply", R"({"error":"Empresa inexistente."})", "Empresa inexistente.",
                   kPrevious},
        PacketCase{"malformedJson", R"({"fields":[{"name":"CDSERIE"})", "JSON", kPrevious},
        PacketCase{"rowWidthDiffers",
                   R"({"fields":[{"name":"CDSERIE"},{"name":"DSSERIE"}],"rows":[["1"]]})",
                   "linha", kPrevious},
        PacketCase{"numberValue",
                   R"({"fields":[{"name":"CDSERIE"},{"name":"DSSERIE"}],"rows":[[1,"x"]]})",
                   "valor", kPrevious},
        PacketCase{"noRows", R"({"fields":[]})", "rows", kPrevious}),
    [](const testing::TestParamInfo<PacketCase> &info) { return std::string(info.param.label); });

TEST(TClientDataSet, DefaultFieldsFollowThePacketAndItsSizes)
{
    TClientDataSet cds;
    ResultSet rs{{"CDSERIE", "DSSERIE"}, {{"1", std::nullopt}, {"Nº", "Saída"}}};
    cds.SetData(MakeDataPacket(rs, {2}));
    ASSERT_EQ(cds.FieldCount(), 2);
    EXPECT_EQ(cds.Fields()[0]->Size, 2);
    EXPECT_EQ(cds.Fields()[1]->Size, 20);
    EXPECT_TRUE(cds.FieldByName("DSSERIE")->IsNull());
    cds.Last();
    EXPECT_EQ(cds.FieldByName("CDSERIE")->AsString(), "Nº");  // 2 characters, 3 bytes
    EXPECT_EQ(cds.FieldByName("DSSERIE")->AsString(), "Saída");

    rs.rows.push_back({"ABC", "x"});
    EXPECT_THROW(cds.SetData(MakeDataPacket(rs, {2})), EDatabaseError);
    EXPECT_EQ(cds.RecordCount(), 2);
}

TEST(TClientDataSet, OpenWithoutPacketFails)
{
    TClientDataSet cds;
    EXPECT_THROW(cds.Open(), EDatabaseError);
}

TEST(ErrorReply, RoundTripAndDetection)
{
    const std::string reply = MakeErrorReply("Falha: \"aspas\" e acentuação");
    EXPECT_TRUE(IsErrorReply(reply));
    EXPECT_EQ(ErrorReplyText(reply), "Falha: \"aspas\" e acentuação");
    for (const std::string &other : {kSeries, std::string("not json"), std::string(R"({"error":3})")}) {
        EXPECT_FALSE(IsErrorReply(other)) << other;
        EXPECT_EQ(ErrorReplyText(other), "");
    }
}

TEST(MakeDataPacket, InvalidUtf8IsAnErrorNotACorruptPacket)
{
    ResultSet rs{{"A"}, {{std::string("\xff")}}};
    EXPECT_THROW(MakeDataPacket(rs, {}), EDatabaseError);
}
} // namespace
