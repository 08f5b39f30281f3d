// Check digits of CNPJ and state registrations by the public rules: good
// numbers pass, a changed digit or a wrong length fails, states without a
// rule (abroad) are left unchecked. Most valid numbers are the examples the
// states publish with their rules; the others reach a rule's special cases.
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
        {"0623079040081", "MG", TaxIdCheck::Valid},
        {"062.307.904/0082", "MG", TaxIdCheck::Invalid},
        {"0623079040091", "MG", TaxIdCheck::Invalid},  // the first check digit
        {"01.004.823/001-12", "AC", TaxIdCheck::Valid},
        {"01.004.823/001-13", "AC", TaxIdCheck::Invalid},
        {"02.004.823/001-12", "AC", TaxIdCheck::Invalid},  // not "01"
        {"07300001001-09", "DF", TaxIdCheck::Valid},
        {"07300001001-19", "DF", TaxIdCheck::Invalid},
        {"240000048", "AL", TaxIdCheck::Valid},
        {"240000049", "AL", TaxIdCheck::Invalid},
        {"250000048", "AL", TaxIdCheck::Invalid},  // not "24"
        {"03.012.345-9", "AP", TaxIdCheck::Valid},
        {"03.012.345-8", "AP", TaxIdCheck::Invalid},
        {"030170071", "AP", TaxIdCheck::Valid},    // the second range: a remainder of 0 gives 1
        {"030170070", "AP", TaxIdCheck::Invalid},
        {"030000020", "AP", TaxIdCheck::Valid},    // the first: it gives 0
        {"99.999.999-0", "AM", TaxIdCheck::Valid},
        {"99.999.999-1", "AM", TaxIdCheck::Invalid},
        {"123456-63", "BA", TaxIdCheck::Valid},     // mod 10
        {"123456-64", "BA", TaxIdCheck::Invalid},
        {"612345-57", "BA", TaxIdCheck::Valid},     // mod 11
        {"612345-58", "BA", TaxIdCheck::Invalid},
        {"1000003-06", "BA", TaxIdCheck::Valid},    // nine digits
        {"1000003-16", "BA", TaxIdCheck::Invalid},
        {"10.987.654-7", "GO", TaxIdCheck::Valid},
        {"10.987.654-8", "GO", TaxIdCheck::Invalid},
        {"30.987.654-7", "GO", TaxIdCheck::Invalid},  // no such start
        {"110944020", "GO", TaxIdCheck::Valid},       // issued with either digit
        {"110944021", "GO", TaxIdCheck::Valid},
        {"0013000001-9", "MT", TaxIdCheck::Valid},
        {"3000001-9", "MT", TaxIdCheck::Invalid},     // too short even without the zeros
        {"130000019", "MT", TaxIdCheck::Valid},
        {"130000018", "MT", TaxIdCheck::Invalid},
        {"0321418-40", "PE", TaxIdCheck::Valid},
        {"0321418-41", "PE", TaxIdCheck::Invalid},
        {"18.1.001.0000004-9", "PE", TaxIdCheck::Valid},  // the older fourteen
        {"18.1.001.0000004-8", "PE", TaxIdCheck::Invalid},
        {"20.040.040-1", "RN", TaxIdCheck::Valid},
        {"20.040.040-2", "RN", TaxIdCheck::Invalid},
        {"20.0.040.040-0", "RN", TaxIdCheck::Valid},  // ten digits
        {"0000000062521-3", "RO", TaxIdCheck::Valid},
        {"0000000062521-4", "RO", TaxIdCheck::Invalid},
        {"101.62521-3", "RO", TaxIdCheck::Valid},     // the older nine
        {"24006628-1", "RR", TaxIdCheck::Valid},
        {"24006628-2", "RR", TaxIdCheck::Invalid},
        {"29.01.022783-6", "TO", TaxIdCheck::Valid},
        {"29.01.022783-7", "TO", TaxIdCheck::Invalid},
        {"29.04.022783-6", "TO", TaxIdCheck::Invalid},  // no such kind
        {"290227836", "TO", TaxIdCheck::Valid},
        {"123", "EX", TaxIdCheck::Unchecked},           // abroad: no state's rule
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
