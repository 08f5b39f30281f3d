#pragma once
// The desktop's yes/no question: "Não" is the default and the answer to Esc,
// so a hurried Enter never confirms anything; Alt+S and Alt+N answer too.
#include <QMessageBox>
#include <QPushButton>
#include <QString>

inline bool AskYesNo(QWidget *parent, const QString &title, const QString &question)
{
    QMessageBox box(QMessageBox::Question, title, question, QMessageBox::NoButton, parent);
    QPushButton *yes = box.addButton(QStringLiteral("&Sim"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("&Não"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}
