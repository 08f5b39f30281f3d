#include "import_dialog.h"

#include "desktop_settings.h"
#include "import/importer.h"
#include "rtl/atomicfile.h"

#include <QAction>
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
    worker_ = std::thread([this, paths] {
        std::string out;
        try {
            auto db = OpenImportConnection(config_);
            ImportOptions options;
            options.progress = [this](const ImportProgress &p) {
                files_ = p.files;
                filesTotal_ = p.filesTotal;
                documents_ = p.documents;
                return !cancel_.load();
            };
            out = ImportFiles(*db, paths, options).Text();
        } catch (const std::exception &e) {
            out = std::string("Não foi possível importar: ") + e.what() + "\n";
        }
        text_ = std::move(out);
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
    cancelButton_->setText(QStringLiteral("Fechar"));
    progressText_->setText(cancel_ ? QStringLiteral("Importação cancelada: os documentos gravados até ali permanecem.")
                                   : QStringLiteral("Importação concluída."));
}

QString ImportDialog::ResultText() const { return result_->toPlainText(); }

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
                                                      QStringLiteral("Texto (*.txt)"));
    if (file.isEmpty())
        return;
    try {
        ReplaceFileContents(file.toStdString(), text_);
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
