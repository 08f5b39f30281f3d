#include "rtl/utf8.h"

#include <gtest/gtest.h>

namespace {

TEST(FoldForSearchTest, LettersLoseCaseAndAccents)
{
    struct Case {
        const char *text, *folded;
    } cases[] = {
        {"Água mineral", "AGUA MINERAL"},
        {"AÇÚCAR", "ACUCAR"},
        {"pão de açúcar", "PAO DE ACUCAR"},
        {"àáâãäå èéêë ìíîï òóôõö ùúûü ýÿ ñ", "AAAAAA EEEE IIII OOOOO UUUU YY N"},
        {"ÀÁÂÃÄÅ ÈÉÊË ÌÍÎÏ ÒÓÔÕÖØ ÙÚÛÜ Ý Ñ Ç", "AAAAAA EEEE IIII OOOOOO UUUU Y N C"},
        // No plain letter behind them: kept as they are.
        {"Æ ß × ÷ Þ", "Æ ß × ÷ Þ"},
        {"€ 12,50 №", "€ 12,50 №"},
        {"01.02.0003", "01.02.0003"},
        // A broken sequence is copied byte for byte.
        {"a\xC3", "A\xC3"},
        {"\xC3(", "\xC3("},
        {"", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        std::string out = "|";
        utf8::foldForSearch(c.text, out);
        EXPECT_EQ(out, std::string("|") + c.folded);
    }
}

} // namespace

TEST(Utf8, NormalFormCMakesLookalikesTheSameBytes)
{
    const std::pair<std::string, std::string> rows[] = {
        {"Cafe\xCC\x81", "Caf\xC3\xA9"},              // e and a combining accent
        {"Caf\xC3\xA9", "Caf\xC3\xA9"},               // already composed
        {"Sai\xCC\x81" "da de c\xCC\xA7", "Sa\xC3\xAD" "da de \xC3\xA7"},
        {"A\xE2\x84\xAB", "A\xC3\x85"},              // the angstrom sign is the letter
        {"", ""},
        {"plain ASCII", "plain ASCII"},
    };
    for (const auto &[given, normal] : rows)
        EXPECT_EQ(utf8::nfc(given), normal) << given;
}
