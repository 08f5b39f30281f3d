#include "import_dialog.h"

#include "desktop_settings.h"
#include "import/importer.h"
#include "rtl/atomicfile.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {
QString text(const std::string &s) { return QString::fromStdString(s); }
}

ImportDialog::ImportDialog(HostConfig config, bool demoCopy, QWidget *parent)
    : QDialog(parent), config_(std::move(config)), demoCopy_(demoCopy)
{
    setWindowTitle(QStringLiteral("Importar notas fiscais (XML)"));
    auto *layout = new QVBoxLayout(this);
    auto *where = new QLabel(this);
    where->setTextFormat(Qt::PlainText);
    where->setWordWrap(true);
    QString base = QStringLiteral("Banco de dados: %1 (%2)").arg(text(config_.database), text(config_.engine));
    if (demoCopy_)
        base += QStringLiteral("\nEsta é a cópia temporária de demonstração: o que for importado se perde quando o "
                               "programa fechar. Para guardar as notas, peça a quem instalou o programa que indique o banco de dados da "
                               "empresa.");
    where->setText(base);
    layout->addWidget(where);

    auto *choose = new QHBoxLayout;
    folderButton_ = new QPushButton(QStringLiteral("Escolher pasta…"), this);
    filesButton_ = new QPushButton(QStringLiteral("Escolher arquivos…"), this);
    choose->addWidget(folderButton_);
    choose->addWidget(filesButton_);
    choose->addStretch();
    layout->addLayout(choose);

    // How the documents are taken, chosen before choosing the files.
    homologation_ = new QCheckBox(QStringLiteral("Aceitar notas emitidas em homologação (sem valor fiscal, para testes)"), this);
    homologation_->setChecked(false);
    layout->addWidget(homologation_);
    auto *entry = new QHBoxLayout;
    entry->addWidget(new QLabel(QStringLiteral("Data de entrada das notas recebidas:"), this));
    entryRule_ = new QComboBox(this);
    entryRule_->addItem(QStringLiteral("data de saída do emitente, senão a emissão"));
    entryRule_->addItem(QStringLiteral("data de emissão"));
    entryRule_->addItem(QStringLiteral("uma data para todas:"));
    entryDay_ = new QDateEdit(QDate::currentDate(), this);
    entryDay_->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    entryDay_->setCalendarPopup(true);
    entryDay_->setEnabled(false);
    entry->addWidget(entryRule_);
    entry->addWidget(entryDay_);
    entry->addStretch();
    layout->addLayout(entry);
    connect(entryRule_, &QComboBox::currentIndexChanged, this, [this](int i) { entryDay_->setEnabled(i == 2); });

    progressText_ = new QLabel(QStringLiteral("Escolha os arquivos XML ou ZIP, ou uma pasta com eles."), this);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    layout->addWidget(progressText_);
    layout->addWidget(progress_);

    result_ = new QPlainTextEdit(this);
    result_->setReadOnly(true);
    result_->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(result_, 1);

    auto *buttons = new QHBoxLayout;
    saveButton_ = new QPushButton(QStringLiteral("Salvar resultado…"), this);
    saveButton_->setEnabled(false);
    cancelButton_ = new QPushButton(QStringLiteral("Fechar"), this);
    buttons->addWidget(saveButton_);
    buttons->addStretch();
    buttons->addWidget(cancelButton_);
    layout->addLayout(buttons);

    timer_ = new QTimer(this);
    timer_->setInterval(100);
    connect(timer_, &QTimer::timeout, this, [this] { poll(); });
    connect(folderButton_, &QPushButton::clicked, this, [this] { this->choose(true); });
    connect(filesButton_, &QPushButton::clicked, this, [this] { this->choose(false); });
    connect(saveButton_, &QPushButton::clicked, this, [this] { save(); });
    connect(cancelButton_, &QPushButton::clicked, this, [this] { reject(); });
    resize(760, 480);
}

ImportDialog::~ImportDialog()
{
    cancel_ = true;
    if (worker_.joinable())
        worker_.join();
}

void ImportDialog::choose(bool folder)
{
    std::vector<std::string> paths;
    // The dialogs open where the last import came from.
    DesktopSettings settings;
    QString start = settings.ImportFolder();
    if (!start.isEmpty() && !QDir(start).exists())
        start.clear();
    if (folder) {
        const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("Pasta com as notas fiscais"), start,
                                                              QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
        if (!dir.isEmpty()) {
            paths.push_back(dir.toStdString());
            settings.RememberImportFolder(dir);
        }
    } else {
        const QStringList files = QFileDialog::getOpenFileNames(this, QStringLiteral("Notas fiscais"), start,
                                                                QStringLiteral("NF-e (*.xml *.XML *.zip *.ZIP)"), nullptr,
                                                                QFileDialog::DontUseNativeDialog);
        for (const QString &f : files)
            paths.push_back(f.toStdString());
        if (!files.isEmpty())
            settings.RememberImportFolder(QFileInfo(files.first()).absolutePath());
    }
    if (!paths.empty())
        Start(paths);
}

bool ImportDialog::Start(const std::vector<std::string> &paths)
{
    if (Running())
        return false;
    if (demoCopy_ &&
        QMessageBox::question(this, windowTitle(),
                              QStringLiteral("O banco aberto é a cópia temporária de demonstração: o que for importado "
                                             "se perde quando o programa fechar. Importar assim mesmo?"),
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes)
        return false;
    cancel_ = false;
    done_ = false;
    files_ = 0;
    filesTotal_ = 0;
    documents_ = 0;
    result_->clear();
    saveButton_->setEnabled(false);
    folderButton_->setEnabled(false);
    filesButton_->setEnabled(false);
    cancelButton_->setText(QStringLiteral("Cancelar"));
    progressText_->setText(QStringLiteral("Lendo os arquivos…"));
    homologation_->setEnabled(false);
    entryRule_->setEnabled(false);
    entryDay_->setEnabled(false);
    const bool homologation = AcceptsHomologation();
    const EntryDate entryDate = EntryDateChoice();
    worker_ = std::thread([this, paths, homologation, entryDate] {
        std::string out, csv;
        try {
            auto db = OpenImportConnection(config_);
            ImportOptions options;
            options.acceptHomologation = homologation;
            options.entryDate = entryDate;
            options.progress = [this](const ImportProgress &p) {
                files_ = p.files;
                filesTotal_ = p.filesTotal;
                documents_ = p.documents;
                return !cancel_.load();
            };
            const ImportReport report = ImportFiles(*db, paths, options);
            out = report.Text();
            csv = report.Csv();
        } catch (const std::exception &e) {
            out = std::string("Não foi possível importar: ") + e.what() + "\n";
        }
        text_ = std::move(out);
        csv_ = std::move(csv);
        done_ = true;
    });
    timer_->start();
    return true;
}

void ImportDialog::poll()
{
    const std::size_t total = filesTotal_;
    progress_->setRange(0, static_cast<int>(std::max<std::size_t>(total, 1)));
    progress_->setValue(static_cast<int>(std::min(files_.load(), std::max<std::size_t>(total, 1))));
    progressText_->setText(QStringLiteral("Arquivos: %1 de %2 · documentos lidos: %3")
                               .arg(files_.load())
                               .arg(total)
                               .arg(documents_.load()));
    if (done_)
        finish();
}

void ImportDialog::finish()
{
    timer_->stop();
    worker_.join();
    result_->setPlainText(text(text_));
    saveButton_->setEnabled(true);
    folderButton_->setEnabled(true);
    filesButton_->setEnabled(true);
    homologation_->setEnabled(true);
    entryRule_->setEnabled(true);
    entryDay_->setEnabled(entryRule_->currentIndex() == 2);
    cancelButton_->setText(QStringLiteral("Fechar"));
    progressText_->setText(cancel_ ? QStringLiteral("Importação cancelada: os documentos gravados até ali permanecem.")
                                   : QStringLiteral("Importação concluída."));
}

QString ImportDialog::ResultText() const { return result_->toPlainText(); }

bool ImportDialog::AcceptsHomologation() const { return homologation_->isChecked(); }

EntryDate ImportDialog::EntryDateChoice() const
{
    switch (entryRule_->currentIndex()) {
    case 1: return {EntryDateRule::Issue, {}};
    case 2: return {EntryDateRule::Fixed, entryDay_->date().toString(QStringLiteral("yyyy-MM-dd")).toStdString()};
    default: return {};
    }
}

void ImportDialog::reject()
{
    if (Running()) {
        // Stops between documents; what was written stays whole.
        cancel_ = true;
        return;
    }
    QDialog::reject();
}

void ImportDialog::save()
{
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Salvar resultado da importação"),
                                                      QStringLiteral("importacao.txt"),
                                                      QStringLiteral("Texto (*.txt);;CSV, um arquivo por linha (*.csv)"));
    if (file.isEmpty())
        return;
    try {
        const bool csv = file.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
        ReplaceFileContents(file.toStdString(), csv ? csv_ : text_);
        progressText_->setText(QStringLiteral("Resultado salvo em %1").arg(file));
    } catch (const std::exception &e) {
        QMessageBox::warning(this, windowTitle(), text(e.what()));
    }
}

void AddImportAction(QMainWindow &window, const HostConfig &config, bool demoCopy)
{
    auto *action = new QAction(QStringLiteral("Importar notas fiscais (XML)…"), &window);
    action->setStatusTip(QStringLiteral("Lê NF-e e NFC-e (XML, pastas ou ZIP) para o banco de dados aberto"));
    QObject::connect(action, &QAction::triggered, &window, [&window, config, demoCopy] {
        ImportDialog dialog(config, demoCopy, &window);
        dialog.exec();
    });
    // Before the window list, which desktops keep last.
    auto *menu = new QMenu(QStringLiteral("&Dados"), &window);
    menu->addAction(action);
    QAction *before = nullptr;
    for (QAction *entry : window.menuBar()->actions())
        if (entry->text() == QStringLiteral("&Janelas"))
            before = entry;
    window.menuBar()->insertMenu(before, menu);
}
