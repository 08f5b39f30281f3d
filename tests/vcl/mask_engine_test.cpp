#include "vcl/mask_engine.h"

#include "rtl/utf8.h"

#include <gtest/gtest.h>

namespace {

void typeAll(MaskEngine &e, const std::string &keys)
{
    for (char32_t k : utf8::decode(keys))
        e.typeKey(k);
}

// One row: keys typed after selectAll() on an empty control, and the same
// string set from code. The code columns are given only where they differ.
struct MaskRow {
    const char *name;
    const char *mask;
    const char *keys;
    const char *text;
    const char *display;
    const char *codeText = nullptr;
    const char *codeDisplay = nullptr;
};

const MaskRow kRows[] = {
    {"RightAlignedShortText", "!99;0; ", "1", "1", "1 ", "1", " 1"},
    {"RightAlignedWithoutLiterals", "!999;1;_", "12", "12", "12_", "12", "_12"},
    {"KeyEqualToLiteralIsUsedBySkip", "9.999;0; ", "5.102", "5102", "5.102", "5 10", "5. 10"},
    {"DigitsJumpOverLiteral", "9.999;0; ", "5102", "5102", "5.102"},
    {"UpperCaseLetters", ">aaaa;0; ", "a1", "A1", "A1  "},
    {"UpperCaseLatin1", ">llll;0;_", "çãoé", "ÇÃOÉ", "ÇÃOÉ"},
    {"CaseSwitchesAndStop", ">L<L<>LL;0;_", "abCd", "AbCd", "AbCd"},
    {"ShortDateKeepsInnerLiteral", "99.99.9999;1; ", "0101", "01.01", "01.01.    "},
    {"FullDate", "99/99/9999;1; ", "01012026", "01/01/2026", "01/01/2026"},
    {"DateWithSeparators", "99/99/9999;1; ", "01/01/2026", "01/01/2026", "01/01/2026"},
    {"LettersRefusedInDigits", "999;0;_", "1a2b3", "123", "123", "1 2", "1_2"},
    {"SignOnlyWhereAllowed", "#99;0;_", "-1+2", "-12", "-12", "-1", "-1_"},
    {"OverflowDropped", "99;0;_", "12345", "12", "12"},
    {"TwentyDigits", "99999999999999999999;0; ", "123456789012345678901",
     "12345678901234567890", "12345678901234567890"},
    {"ProductCodeFull", "99.99.9999;1;_", "01.01.0001", "01.01.0001", "01.01.0001"},
    {"ProductCodeShort", "99.99.9999;1;_", "01.01", "01.01", "01.01.____"},
    {"BlankInTheMiddle", "99.99.9999;1;_", "01.  .2026", "01.20.26", "01.20.26__",
     "01.  .2026", "01.__.2026"},
    {"MisfitCharactersLeaveGaps", "99.99.9999;1; ", "1.1.2026", "11.20.26", "11.20.26  ",
     "1 .1 .2026", "1 .1 .2026"},
    {"EscapedMaskCharacter", "\\A99;1;_", "12", "A12", "A12"},
    {"PhoneFull", "(99) 9999-9999;1;_", "1123456789", "(11) 2345-6789", "(11) 2345-6789"},
    {"PhonePartial", "(99) 9999-9999;1;_", "11234", "(11) 234", "(11) 234_-____"},
    {"PhoneWithoutLiterals", "(99) 9999-9999;0;_", "1123456789", "1123456789",
     "(11) 2345-6789"},
    {"AnyCharacterTakesSpace", "cc-cc;1;*", "a b", "a -b", "a -b*"},
};

void PrintTo(const MaskRow &r, std::ostream *os) { *os << r.name; }

class MaskRows : public ::testing::TestWithParam<MaskRow> {};

TEST_P(MaskRows, TypedAfterSelectAll)
{
    const MaskRow &r = GetParam();
    MaskEngine e(r.mask);
    e.selectAll();
    typeAll(e, r.keys);
    EXPECT_EQ(e.text(), r.text);
    EXPECT_EQ(e.displayText(), r.display);

    // What the program reads must survive being written back.
    MaskEngine back(r.mask);
    back.setText(e.text());
    EXPECT_EQ(back.text(), e.text());
}

TEST_P(MaskRows, SetFromCode)
{
    const MaskRow &r = GetParam();
    MaskEngine e(r.mask);
    e.setText(r.keys);
    EXPECT_EQ(e.text(), r.codeText ? r.codeText : r.text);
    EXPECT_EQ(e.displayText(), r.codeDisplay ? r.codeDisplay : r.display);
}

INSTANTIATE_TEST_SUITE_P(Masks, MaskRows, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(MaskEngine, FirstKeyOverSelectionReplacesEverythingAtOnce)
{
    MaskEngine e("99/99/9999;1; ");
    e.setText("31/12/2025");
    e.selectAll();
    EXPECT_TRUE(e.hasSelection());
    bool changed = false;
    EXPECT_TRUE(e.typeKey(U'0', &changed));
    EXPECT_TRUE(changed);
    EXPECT_EQ(e.text(), "0");
    EXPECT_EQ(e.displayText(), "0 /  /    ");
    EXPECT_FALSE(e.hasSelection());
    EXPECT_EQ(e.caret(), 1);
    typeAll(e, "1012026");
    EXPECT_EQ(e.text(), "01/01/2026");
}

TEST(MaskEngine, KeyOverSelectAllGoesToFirstEditable)
{
    MaskEngine e("(99) 9999-9999;1;_");
    e.setText("(11) 2345-6789");
    e.selectAll();
    EXPECT_EQ(e.selStart(), 0);
    EXPECT_EQ(e.selLength(), 14);
    e.typeKey(U'2');
    EXPECT_EQ(e.caret(), 2);
    EXPECT_EQ(e.text(), "(2");
}

TEST(MaskEngine, RefusedKeyOverSelectionChangesNothing)
{
    MaskEngine e("99/99/9999;1; ");
    e.setText("31/12/2025");
    e.selectAll();
    bool changed = true;
    EXPECT_FALSE(e.typeKey(U'x', &changed));
    EXPECT_FALSE(changed);
    EXPECT_FALSE(e.typeKey(U'/'));
    EXPECT_EQ(e.text(), "31/12/2025");
    EXPECT_TRUE(e.hasSelection());
    EXPECT_EQ(e.selLength(), 10);
}

TEST(MaskEngine, DeleteOverSelectionBlanksEveryPosition)
{
    MaskEngine e("99/99/9999;1; ");
    e.setText("31/12/2025");
    e.selectAll();
    EXPECT_TRUE(e.deleteSelection());
    EXPECT_EQ(e.text(), "");
    EXPECT_EQ(e.displayText(), "  /  /    ");
    EXPECT_FALSE(e.hasSelection());
    EXPECT_FALSE(e.deleteSelection());
}

TEST(MaskEngine, CaretMovesOnlyForAcceptedKeys)
{
    MaskEngine e("9.999;0; ");
    EXPECT_TRUE(e.typeKey(U'5'));
    EXPECT_EQ(e.caret(), 1);
    EXPECT_FALSE(e.typeKey(U'x'));
    EXPECT_EQ(e.caret(), 1);
    bool changed = true;
    EXPECT_TRUE(e.typeKey(U'.', &changed)); // used up by skipping the literal
    EXPECT_FALSE(changed);
    EXPECT_EQ(e.caret(), 2);
    typeAll(e, "102");
    EXPECT_EQ(e.caret(), 5);
    EXPECT_FALSE(e.typeKey(U'3'));
    EXPECT_EQ(e.caret(), 5);
    EXPECT_EQ(e.text(), "5102");
}

TEST(MaskEngine, RetypingSameCharacterIsNoChange)
{
    MaskEngine e("999;0;_");
    e.setText("512");
    bool changed = true;
    EXPECT_TRUE(e.typeKey(U'5', &changed));
    EXPECT_FALSE(changed);
    EXPECT_TRUE(e.typeKey(U'7', &changed));
    EXPECT_TRUE(changed);
    EXPECT_EQ(e.text(), "572");
}

TEST(MaskEngine, ControlCharactersNeverStored)
{
    MaskEngine e("ccc;1;_");
    EXPECT_FALSE(e.typeKey(U'\t'));
    EXPECT_FALSE(e.typeKey(U'\x7f'));
    e.setText("a\nb");
    EXPECT_EQ(e.text(), "a b");
}

TEST(MaskEngine, SetTextResetsCaretAndSelectionAndReportsChange)
{
    MaskEngine e("99/99/9999;1;_");
    e.selectAll();
    typeAll(e, "0101");
    EXPECT_TRUE(e.setText("02/02/2026"));
    EXPECT_EQ(e.caret(), 0);
    EXPECT_FALSE(e.hasSelection());
    EXPECT_FALSE(e.setText("02022026"));
    EXPECT_TRUE(e.clear());
    EXPECT_EQ(e.text(), "");
    EXPECT_FALSE(e.clear());
}

TEST(MaskEngine, SameMaskIsNoOpAndNewMaskReappliesText)
{
    MaskEngine e("99999999;0;_");
    e.setText("01012026");
    EXPECT_FALSE(e.setMask("99999999;0;_"));
    EXPECT_EQ(e.mask(), "99999999;0;_");
    EXPECT_TRUE(e.setMask("99/99/9999;1;_"));
    EXPECT_EQ(e.text(), "01/01/2026");
    EXPECT_FALSE(e.setMask(""));
    EXPECT_FALSE(e.hasMask());
    EXPECT_EQ(e.text(), "01/01/2026");
}

TEST(MaskEngine, MaskPartsDefaultAndEscape)
{
    MaskEngine keep("9-9");
    keep.setText("1-2");
    EXPECT_EQ(keep.text(), "1-2");
    EXPECT_EQ(MaskEngine("9-9").displayText(), "_-_");
    MaskEngine drop("9-9;0");
    drop.setText("12");
    EXPECT_EQ(drop.text(), "12");
    EXPECT_EQ(drop.displayText(), "1-2");
    MaskEngine semi("9\\;9;1;*");
    EXPECT_EQ(semi.displayText(), "*;*");
    EXPECT_EQ(semi.positionCount(), 3);
    EXPECT_EQ(semi.editableCount(), 2);
    MaskEngine blank("9_9;1;_");
    blank.setText("1 2");
    EXPECT_EQ(blank.text(), "1 2");
}

TEST(MaskEngine, RequiredPositionsDecideCompleteness)
{
    MaskEngine e("0-L9;1;_");
    EXPECT_FALSE(e.isComplete());
    e.setText("1");
    EXPECT_FALSE(e.isComplete());
    e.setText("1-x");
    EXPECT_TRUE(e.isComplete());
    EXPECT_EQ(e.text(), "1-x");
    EXPECT_TRUE(MaskEngine("99;1;_").isComplete());
}

TEST(MaskEngine, WithoutMaskKeysInsertAtCaret)
{
    MaskEngine e;
    EXPECT_FALSE(e.hasMask());
    e.setText("Saída");
    EXPECT_EQ(e.text(), "Saída");
    e.selectAll();
    e.typeKey(U'N');
    e.typeKey(U'º');
    EXPECT_EQ(e.text(), "Nº");
    e.setCaret(0);
    e.deleteSelection();
    EXPECT_EQ(e.displayText(), "º");
}

} // namespace

namespace {

// Parsed masks are remembered a few at a time: a mask pushed out and set again
// must behave exactly as it did the first time.
TEST(MaskEngine, MasksRememberedAndForgottenBehaveTheSame)
{
    auto shown = [](const std::string &mask, const std::string &text) {
        MaskEngine e(mask);
        e.setText(text);
        return e.text() + "|" + e.displayText();
    };
    std::vector<std::string> masks;
    for (int i = 1; i <= 40; ++i)
        masks.push_back(std::string(static_cast<std::size_t>(i % 7 + 1), '9') + "." +
                        std::string(static_cast<std::size_t>(i % 5 + 1), 'a') + (i % 2 ? ";1;_" : ";0; "));
    std::vector<std::string> first;
    for (const auto &m : masks)
        first.push_back(shown(m, "12345A7"));
    // Twice round more masks than are kept: each is parsed afresh, then found again.
    for (int round = 0; round < 2; ++round)
        for (std::size_t i = 0; i < masks.size(); ++i)
            EXPECT_EQ(shown(masks[i], "12345A7"), first[i]) << masks[i] << " round " << round;
    EXPECT_EQ(shown("9.999;0; ", "5102"), "5102|5.102");
}

} // namespace
