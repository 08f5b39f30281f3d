#pragma once
// "Empresas": the companies and their state registrations, registered,
// renamed and removed through the import's writing login. A CNPJ or IE
// whose check digits fail is kept only once the person confirms it.
#include "host/hostconfig.h"

#include <QDialog>

#include <functional>
#include <memory>

class DatabaseWriter;
using ImportConnection = DatabaseWriter;  // import/connection.h
class QLineEdit;
class QMainWindow;
class QTreeWidget;

class CompanyDialog : public QDialog {
public:
    CompanyDialog(HostConfig config, QWidget *parent = nullptr);
    ~CompanyDialog() override;

    // Registers what the fields hold; false when refused or not confirmed.
    bool Register();
    void Reload();
    QTreeWidget *Tree() const { return tree_; }
    QLineEdit *Field(const char *name) const;

    // Where questions and errors go; message boxes unless a test answers.
    void SetQuestionSink(std::function<bool(const QString &)> ask) { ask_ = std::move(ask); }
    void SetErrorSink(std::function<void(const QString &)> tell) { tell_ = std::move(tell); }

private:
    ImportConnection &Connection();
    void RenameSelected();
    void RemoveSelected();

    HostConfig config_;
    std::unique_ptr<ImportConnection> db_;
    QTreeWidget *tree_ = nullptr;
    std::function<bool(const QString &)> ask_;
    std::function<void(const QString &)> tell_;
};

// "Empresas…" in the main window's "Dados" menu.
void AddCompanyAction(QMainWindow &window, const HostConfig &config);
