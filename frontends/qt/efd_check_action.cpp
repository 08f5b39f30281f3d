// "Conferir com a EFD ICMS/IPI…" in the "Dados" menu: a filed EFD chosen,
// checked against the open database's books on a thread of its own with
// "Cancelar", and its report shown in the preview.
#include "host/hostconfig.h"
#include "host/hostsession.h"
#include "import/efd_report.h"
#include "report/reportui.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

const QString kTitle = QStringLiteral("Conferência com a EFD ICMS/IPI");

void checkFile(QMainWindow &window, const HostConfig &config, const std::string &file)
{
    QProgressDialog progress(QStringLiteral("Conferindo %1…").arg(QString::fromStdString(file)),
                             QStringLiteral("Cancelar"), 0, 0, &window);
    progress.setWindowTitle(kTitle);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.show();

    std::atomic<bool> cancel{false}, done{false};
    std::atomic<long> lines{0};
    std::string error;
    std::vector<std::string> paths;
    const std::string reports = config.reportsDir.empty() ? DefaultReportsDir() : config.reportsDir;
    const std::string out = config.reportOutputDir.empty()
                                ? (std::filesystem::temp_directory_path() / "fis-efd").string()
                                : config.reportOutputDir;
    std::thread worker([&] {
        try {
            auto books = OpenHostSession(config);
            const EfdCheck check = CheckEfdFile(file, books.get(), [&](long n) {
                lines = n;
                return !cancel;
            });
            if (!cancel)
                paths = WriteEfdCheckReport(check, reports, out, {"pdf", "csv", "xlsx"});
        } catch (const std::exception &e) {
            error = e.what();
        }
        done = true;
    });
    while (!done) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        if (progress.wasCanceled())
            cancel = true;
        else
            progress.setLabelText(QStringLiteral("Conferindo… %1 linhas lidas").arg(lines.load()));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    worker.join();
    progress.close();
    if (cancel)
        return;
    if (!error.empty() || paths.empty()) {
        QMessageBox::warning(&window, kTitle, QString::fromStdString(error));
        return;
    }
    // The run wrote every format; an export copies the one asked for.
    const ReportExport exportTo = [paths](const std::string &format, const std::string &path) {
        for (const std::string &p : paths)
            if (std::filesystem::path(p).extension() == "." + format) {
                std::error_code ec;
                std::filesystem::copy_file(p, path, std::filesystem::copy_options::overwrite_existing, ec);
                if (ec)
                    return ExportOutcome{ExportOutcome::Kind::Failed, ec.message()};
                return ExportOutcome{};
            }
        return ExportOutcome{ExportOutcome::Kind::Failed, "formato não disponível: " + format};
    };
    ReportUserInterface().Preview(paths.front(), kTitle.toStdString(), exportTo);
}

} // namespace

void AddEfdCheckAction(QMainWindow &window, const HostConfig &config)
{
    auto *action = new QAction(QStringLiteral("Conferir com a EFD ICMS/IPI…"), &window);
    action->setStatusTip(QStringLiteral("Confere um arquivo da EFD ICMS/IPI com os livros do banco de dados aberto"));
    QObject::connect(action, &QAction::triggered, &window, [&window, config] {
        // The desktop's pictures name the file instead of asking for it.
        QString file = QString::fromLocal8Bit(qgetenv("FISHOST_SHOT_EFD"));
        if (file.isEmpty())
            file = QFileDialog::getOpenFileName(&window, kTitle, QString(),
                                                QStringLiteral("EFD ICMS/IPI (*.txt *.TXT *.zip);;Todos os arquivos (*)"));
        if (!file.isEmpty())
            checkFile(window, config, file.toStdString());
    });
    for (QAction *entry : window.menuBar()->actions())
        if (entry->menu() && entry->text() == QStringLiteral("&Dados")) {
            entry->menu()->addAction(action);
            return;
        }
    auto *menu = window.menuBar()->addMenu(QStringLiteral("&Dados"));
    menu->addAction(action);
}
