// The widget set's yes/no question, asked as every question of the desktop is.
#include "qtwidgetset.h"
#include "yes_no.h"

#include <QApplication>

bool QtWidgetSet::Confirm(const std::string &question)
{
    return AskYesNo(QApplication::activeWindow(), QApplication::applicationDisplayName(),
                    QString::fromStdString(question));
}
