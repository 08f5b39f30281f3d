// Widgets need one QApplication for the whole run; the tests never need a
// display, also when ctest lists them without the tests' environment.
#include "qtwidgetset.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UsePortugueseTexts();
    return RUN_ALL_TESTS();
}
