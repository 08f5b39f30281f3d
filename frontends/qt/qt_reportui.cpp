#include "qt_reportui.h"

#include "layout_editor.h"
#include "print_support.h"
#include "report/bands.h"
#include "report_theme.h"
#include "rtl/sysutils.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPdfDocument>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <exception>
#include <limits>
#include <thread>

QtReportProgress::QtReportProgress(const QString &title, QWidget *parent, int delayMs)
    : dialog_(new QProgressDialog(parent)), delayMs_(delayMs)
{
    dialog_->setWindowTitle(title);
    dialog_->setWindowModality(Qt::ApplicationModal);
    dialog_->setCancelButtonText(QStringLiteral("Cancelar"));
    dialog_->setLabelText(QStringLiteral("Gerando o relatório…"));
    dialog_->setRange(0, 0);  // the number of rows is not known ahead
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    dialog_->setMinimumWidth(360);
    // Shown by Step, not by the dialog's own timer.
    dialog_->setMinimumDuration(std::numeric_limits<int>::max());
    dialog_->hide();
    started_.start();
}

QtReportProgress::~QtReportProgress() { delete dialog_.data(); }

QProgressDialog *QtReportProgress::Dialog() const { return dialog_.data(); }

bool QtReportProgress::Step(std::size_t rowsSoFar)
{
    rows_ = rowsSoFar;
    if (QThread::currentThread() != qApp->thread())
        return !cancelled_;
    Update();
    // Paints and the dialog's own clicks; the person's input waits until it shows.
    if (dialog_)
        QApplication::processEvents(dialog_->isVisible() ? QEventLoop::AllEvents
                                                         : QEventLoop::ExcludeUserInputEvents);
    return !Update();
}

bool QtReportProgress::Update()
{
    if (!dialog_)
        return cancelled_;  // its window closed under it; the run goes on unseen
    if (dialog_->wasCanceled()) {
        cancelled_ = true;
        dialog_->setLabelText(QStringLiteral("Cancelando…"));
        return true;
    }
    const auto rows = static_cast<long long>(rows_.load());
    dialog_->setLabelText(QStringLiteral("Gerando o relatório…\n%1 %2")
                              .arg(GroupedNumber(rows),
                                   rows == 1 ? QStringLiteral("linha lida") : QStringLiteral("linhas lidas")));
    if (!dialog_->isVisible() && started_.elapsed() >= delayMs_)
        dialog_->show();
    return cancelled_;
}

QtReportUi::QtReportUi(QWidget *window, QMdiArea *area) : window_(window), area_(area) {}

QWidget *QtReportUi::DialogParent() const
{
    if (QWidget *active = QApplication::activeModalWidget())
        return active;
    if (window_)
        return window_;
    return QApplication::activeWindow();
}

void QtReportUi::Preview(const std::string &pdfPath, const std::string &title, const ReportExport &exportTo)
{
    PreviewOf(pdfPath, title, {}, exportTo);
}

void QtReportUi::PreviewOf(const std::string &pdfPath, const std::string &title, const std::string &subject,
                           const ReportExport &exportTo)
{
    auto *preview = new ReportPreview(ToQString(pdfPath), ToQString(title), exportTo, services_);
    preview->setAttribute(Qt::WA_DeleteOnClose);
    preview->SetSubject(ToQString(subject));
    lastPreview_ = preview;
    if (area_) {
        // Windows of the very same pages still tell themselves apart: "(2)".
        int same = 0;
        for (QMdiSubWindow *w : area_->subWindowList())
            if (auto *other = dynamic_cast<ReportPreview *>(w->widget());
                other && other->BaseWindowTitle() == preview->BaseWindowTitle())
                ++same;
        if (same > 0)
            preview->setWindowTitle(preview->BaseWindowTitle() + QStringLiteral(" (%1)").arg(same + 1));
        QMdiSubWindow *sub = area_->addSubWindow(preview);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->setWindowIcon(preview->windowIcon());
        // The pages get the whole work area; the screen stays one click away.
        sub->setGeometry(QRect(QPoint(0, 0), area_->viewport()->size()));
        sub->show();
        // The action that asked for the preview gives the focus back to the
        // screen when it ends; the pages come to the front after that.
        QTimer::singleShot(0, sub, [area = area_, sub, preview] {
            if (area)
                area->setActiveSubWindow(sub);
            preview->setFocus();
        });
    } else {
        preview->setParent(window_, Qt::Window);
        preview->show();
        QTimer::singleShot(0, preview, [preview] {
            preview->activateWindow();
            preview->setFocus();
        });
    }
}

void QtReportUi::RunLong(const std::string &title, const std::function<void(ReportProgress &)> &work,
                         const std::function<void()> &interrupt)
{
    if (QThread::currentThread() != qApp->thread())
        return ReportUi::RunLong(title, work, interrupt);
    QtReportProgress progress(ToQString(title), DialogParent(), progressDelayMs_);
    std::exception_ptr failure;
    std::atomic<bool> done{false};
    QObject waker;  // its queued call wakes the loop below when the run ends
    std::thread runner([&] {
        try {
            work(progress);
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
        QMetaObject::invokeMethod(&waker, [] {}, Qt::QueuedConnection);
    });
    // Wakes the loop for the delay and the rows read.
    QTimer tick;
    tick.start(50);
    bool interrupted = false;
    while (!done) {
        const bool shown = progress.Dialog() && progress.Dialog()->isVisible();
        QApplication::processEvents((shown ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents) |
                                    QEventLoop::WaitForMoreEvents);
        if (progress.Update() && !interrupted) {
            interrupted = true;
            if (interrupt)
                interrupt();
        }
    }
    runner.join();
    if (!failure)
        return;  // finished before a late cancel could stop it
    // Once cancelled, however the statement ended, it ended as cancelled.
    if (progress.Update())
        throw ReportCancelled{};
    std::rethrow_exception(failure);
}

void QtReportUi::CheckPrinter()
{
    if (services_.hasPrinter && !services_.hasPrinter())
        throw Exception(NoPrinterError().Message() + " Use Visualizar para ver o relatório na tela ou exportá-lo.");
}

bool QtReportUi::Print(const std::string &pdfPath, const std::string &title)
{
    QPdfDocument document;
    OpenPdf(document, ToQString(pdfPath));
    try {
        return services_.print(document, ToQString(title), DialogParent(), -1);
    } catch (const NoPrinterError &e) {
        throw Exception(e.Message() + " Use Visualizar para ver o relatório na tela ou exportá-lo.");
    }
}

std::optional<ReportLayout> QtReportUi::EditLayout(const LayoutEditRequest &request)
{
    LayoutEditor editor(request, DialogParent());
    if (editor.exec() != QDialog::Accepted)
        return std::nullopt;
    return editor.Result();
}

std::unique_ptr<ReportProgress> QtReportUi::BeginProgress(const std::string &title)
{
    return std::make_unique<QtReportProgress>(ToQString(title), DialogParent(), progressDelayMs_);
}
