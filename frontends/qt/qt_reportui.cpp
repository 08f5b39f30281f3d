#include "qt_reportui.h"

#include "layout_editor.h"
#include "print_support.h"
#include "report_theme.h"
#include "rtl/sysutils.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPdfDocument>
#include <QProgressDialog>
#include <QTimer>

#include <limits>

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

namespace {
int cancellations = 0;
} // namespace

int QtReportProgress::Cancellations() { return cancellations; }

bool QtReportProgress::Step(std::size_t rowsSoFar)
{
    if (!dialog_)
        return true;  // its window closed under it; the run goes on unseen
    if (!dialog_->wasCanceled()) {
        dialog_->setLabelText(QStringLiteral("Gerando o relatório…\n%1 %2")
                                  .arg(GroupedNumber(static_cast<long long>(rowsSoFar)),
                                       rowsSoFar == 1 ? QStringLiteral("linha lida") : QStringLiteral("linhas lidas")));
        if (!dialog_->isVisible() && started_.elapsed() >= delayMs_)
            dialog_->show();
        QApplication::processEvents(dialog_->isVisible() ? QEventLoop::AllEvents
                                                         : QEventLoop::ExcludeUserInputEvents);
    }
    if (!dialog_->wasCanceled())
        return true;
    if (!counted_)
        ++cancellations;
    counted_ = true;
    return false;
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
    auto *preview = new ReportPreview(ToQString(pdfPath), ToQString(title), exportTo, services_);
    preview->setAttribute(Qt::WA_DeleteOnClose);
    lastPreview_ = preview;
    if (area_) {
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
