#pragma once
// "Importar notas fiscais (XML)…": NF-e files, folders or ZIP archives read
// into the open database by the import layer, on a thread of its own, with
// the progress in files and documents, "Cancelar", and a result the person
// can read and save.
#include "host/hostconfig.h"
#include "import/importer.h"

#include <QDialog>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QMainWindow;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

class ImportDialog : public QDialog {
public:
    // `demoCopy`: the database is the throw-away demo copy, lost on closing.
    ImportDialog(HostConfig config, bool demoCopy, QWidget *parent = nullptr);
    ~ImportDialog() override;

    // Starts importing `paths`; false when the person declined (demo copy).
    bool Start(const std::vector<std::string> &paths);
    bool Running() const { return worker_.joinable(); }
    QString ResultText() const;
    QString ResultCsv() const { return QString::fromStdString(csv_); }
    // The choices the window offers, as the import takes them.
    bool AcceptsHomologation() const;
    EntryDate EntryDateChoice() const;

protected:
    void reject() override;

private:
    void choose(bool folder);
    void poll();
    void finish();
    void save();

    HostConfig config_;
    bool demoCopy_;
    QLabel *progressText_;
    QProgressBar *progress_;
    QPlainTextEdit *result_;
    QPushButton *folderButton_, *filesButton_, *saveButton_, *cancelButton_;
    QCheckBox *homologation_;
    QComboBox *entryRule_;
    QDateEdit *entryDay_;
    QTimer *timer_;

    std::thread worker_;
    std::atomic<bool> cancel_{false}, done_{false};
    std::atomic<std::size_t> files_{0}, filesTotal_{0};
    std::atomic<long> documents_{0};
    std::string text_, csv_;  // written by the worker before done_, read after
};

// The menu entry, in a "Dados" menu of the main window.
void AddImportAction(QMainWindow &window, const HostConfig &config, bool demoCopy);
