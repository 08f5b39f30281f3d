// Check digits of CNPJ and state registrations by the public rules: good
// numbers pass, a changed digit or a wrong length fails, states without a
// rule here are left unchecked.
#include "import/tax_ids.h"

#include <gtest/gtest.h>

namespace {

TEST(TaxIdsTest, CnpjCheckDigits)
{
    struct Case {
        const char *cnpj;
        TaxIdCheck expected;
    } cases[] = {
        {"11.222.333/0001-81", TaxIdCheck::Valid},
        {"11222333000181", TaxIdCheck::Valid},
        {"11.222.333/0001-82", TaxIdCheck::Invalid},  // last digit changed
        {"11.222.333/0001-91", TaxIdCheck::Invalid},  // first check digit changed
        {"11.222.333/0001", TaxIdCheck::Invalid},     // short
        {"00.000.000/0000-00", TaxIdCheck::Invalid},  // passes the sums, names nobody
        {"11.222.333/0001-8A", TaxIdCheck::Invalid},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CheckCnpj(c.cnpj), c.expected) << c.cnpj;
}

TEST(TaxIdsTest, StateRegistrationsByEachStatesRule)
{
    struct Case {
        const char *ie, *state;
        TaxIdCheck expected;
    } cases[] = {
        {"110.042.490.114", "SP", TaxIdCheck::Valid},
        {"110042490114", "SP", TaxIdCheck::Valid},
        {"110042490115", "SP", TaxIdCheck::Invalid},
        {"110042491114", "SP", TaxIdCheck::Invalid},  // the ninth digit
        {"P-01100424.3/002", "SP", TaxIdCheck::Unchecked},  // a rural producer
        {"ISENTO", "SP", TaxIdCheck::Unchecked},
        {"99.999.99-3", "RJ", TaxIdCheck::Valid},
        {"99.999.99-4", "RJ", TaxIdCheck::Invalid},
        {"123.45678-50", "PR", TaxIdCheck::Valid},
        {"123.45678-51", "PR", TaxIdCheck::Invalid},
        {"224/3658792", "RS", TaxIdCheck::Valid},
        {"224/3658793", "RS", TaxIdCheck::Invalid},
        {"251.040.852", "SC", TaxIdCheck::Valid},
        {"251.040.853", "SC", TaxIdCheck::Invalid},
        {"28.312.456-8", "MS", TaxIdCheck::Invalid},
        {"1234567", "SC", TaxIdCheck::Invalid},  // short
        {"0623079040081", "MG", TaxIdCheck::Unchecked},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CheckStateRegistration(c.ie, c.state), c.expected) << c.ie << "/" << c.state;
}

TEST(TaxIdsTest, TheWarningNamesWhatFails)
{
    EXPECT_EQ(TaxIdWarning("11.222.333/0001-81", "110042490114", "SP"), "");
    EXPECT_EQ(TaxIdWarning("", "0623079040081", "MG"), "");
    EXPECT_EQ(TaxIdWarning("11.222.333/0001-82", "110042490114", "SP"),
              "O CNPJ 11.222.333/0001-82 não confere (dígitos verificadores ou tamanho).");
    const std::string both = TaxIdWarning("11.222.333/0001-82", "110042490115", "SP");
    EXPECT_NE(both.find("CNPJ"), std::string::npos);
    EXPECT_NE(both.find("A inscrição estadual 110042490115 não confere com a regra de SP"), std::string::npos);
}

} // namespace
