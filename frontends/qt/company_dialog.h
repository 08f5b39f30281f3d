#pragma once
// "Empresas": the companies (name, activity) and their state registrations
// (CNPJ, branch), registered, changed and removed through the import's
// writing login. A CNPJ or IE whose check digits fail, or a branch the
// register does not place in the registration's state, is kept only once
// the person confirms it.
#include "host/hostconfig.h"

#include <QDialog>

#include <functional>
#include <memory>

class DatabaseWriter;
using ImportConnection = DatabaseWriter;  // import/connection.h
class QComboBox;
class QLineEdit;
class QMainWindow;
class QTreeWidget;
class QTreeWidgetItem;

class CompanyDialog : public QDialog {
public:
    CompanyDialog(HostConfig config, QWidget *parent = nullptr);
    ~CompanyDialog() override;

    enum Column { CompanyColumn, ActivityColumn, IeColumn, StateColumn, CnpjColumn, BranchColumn, CheckColumn };

    // Registers what the fields hold; false when refused or not confirmed.
    bool Register();
    // Keeps the fields' name and activity for the company of the code, and
    // their CNPJ and branch for its registration of the IE when there is one.
    bool SaveChanges();
    // Removes the registration of the fields' code and IE, or the company
    // of the code when the IE is empty; asks first.
    bool RemoveChosen();
    void Reload();
    QTreeWidget *Tree() const { return tree_; }
    QLineEdit *Field(const char *name) const;
    QComboBox *Activity() const { return activity_; }

    // Where questions and errors go; message boxes unless a test answers.
    void SetQuestionSink(std::function<bool(const QString &)> ask) { ask_ = std::move(ask); }
    void SetErrorSink(std::function<void(const QString &)> tell) { tell_ = std::move(tell); }

private:
    ImportConnection &Connection();
    void FillFrom(const QTreeWidgetItem *item);
    // Asks about what RegistrationWarning says; true when nothing is or the person agrees.
    bool Confirmed(const std::string &warning);

    HostConfig config_;
    std::unique_ptr<ImportConnection> db_;
    QTreeWidget *tree_ = nullptr;
    QComboBox *activity_ = nullptr;
    std::function<bool(const QString &)> ask_;
    std::function<void(const QString &)> tell_;
};

// "Empresas…" in the main window's "Dados" menu.
void AddCompanyAction(QMainWindow &window, const HostConfig &config);
