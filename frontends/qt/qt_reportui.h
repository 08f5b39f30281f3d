#pragma once
// The report framework's desktop side: pages shown in the main window, the
// print dialog, the layout editor and a cancellable progress for long runs.
#include "report/reportui.h"
#include "report_preview.h"

#include <QElapsedTimer>
#include <QPointer>

#include <atomic>

class QMdiArea;
class QProgressDialog;
class QWidget;

// A modal progress with "Cancelar", shown once a run has lasted `delayMs`.
// Until the dialog shows, the person's clicks and keys wait, so nothing else
// starts in the middle of the run. Step may come from the run's own thread:
// it then only records, and Update (on the window's thread) shows.
class QtReportProgress : public ReportProgress {
public:
    QtReportProgress(const QString &title, QWidget *parent, int delayMs);
    ~QtReportProgress() override;
    bool Step(std::size_t rowsSoFar) override;
    // The rows so far in the label, the dialog once the delay has passed;
    // true once the person has cancelled.
    bool Update();
    QProgressDialog *Dialog() const;

private:
    QPointer<QProgressDialog> dialog_;  // gone with its parent, should that go first
    QElapsedTimer started_;
    int delayMs_;
    std::atomic<std::size_t> rows_{0};
    std::atomic<bool> cancelled_{false};
};

class QtReportUi : public ReportUi {
public:
    // Previews become sub-windows of `area` (top-level windows without one);
    // dialogs belong to `window`, else to the active window.
    explicit QtReportUi(QWidget *window = nullptr, QMdiArea *area = nullptr);

    void Preview(const std::string &pdfPath, const std::string &title, const ReportExport &exportTo) override;
    void PreviewOf(const std::string &pdfPath, const std::string &title, const std::string &subject,
                   const ReportExport &exportTo) override;
    bool Print(const std::string &pdfPath, const std::string &title) override;
    std::optional<ReportLayout> EditLayout(const LayoutEditRequest &request) override;
    std::unique_ptr<ReportProgress> BeginProgress(const std::string &title) override;
    // The statement and the writing on a thread of their own: the windows
    // keep painting, the progress shows after the delay whatever the
    // statement is doing, and "Cancelar" interrupts the statement itself.
    void RunLong(const std::string &title, const std::function<void(ReportProgress &)> &work,
                 const std::function<void()> &interrupt) override;
    // No printer installed: NoPrinterError's words, pointing to Visualizar.
    void CheckPrinter() override;

    // Tests answer the dialogs themselves and see the progress at once.
    void SetPreviewServices(PreviewServices services) { services_ = std::move(services); }
    void SetProgressDelay(int ms) { progressDelayMs_ = ms; }
    // The preview opened last, while it is open.
    ReportPreview *LastPreview() const { return lastPreview_; }

private:
    QWidget *DialogParent() const;

    QPointer<QWidget> window_;
    QPointer<QMdiArea> area_;
    PreviewServices services_ = PreviewServices::Desktop();
    QPointer<ReportPreview> lastPreview_;
    int progressDelayMs_ = 400;
};
