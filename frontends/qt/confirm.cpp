// The widget set's yes/no question: "Não" is the default and the answer to Esc,
// so a hurried Enter never confirms anything.
#include "qtwidgetset.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

bool QtWidgetSet::Confirm(const std::string &question)
{
    QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), QString::fromStdString(question),
                    QMessageBox::NoButton, QApplication::activeWindow());
    QPushButton *yes = box.addButton(QStringLiteral("&Sim"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("&Não"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}
