#pragma once
// The report framework's desktop side: pages shown in the main window, the
// print dialog, the layout editor and a cancellable progress for long runs.
#include "report/reportui.h"
#include "report_preview.h"

#include <QElapsedTimer>
#include <QPointer>

class QMdiArea;
class QProgressDialog;
class QWidget;

// A modal progress with "Cancelar", shown once a run has lasted `delayMs`.
// Each step repaints the windows; until the dialog shows, the person's
// clicks and keys wait, so nothing else starts in the middle of the run.
class QtReportProgress : public ReportProgress {
public:
    QtReportProgress(const QString &title, QWidget *parent, int delayMs);
    ~QtReportProgress() override;
    bool Step(std::size_t rowsSoFar) override;
    QProgressDialog *Dialog() const;
    // Runs the person cancelled so far in this process: a caller whose run
    // returns normally can still tell that it was cut short.
    static int Cancellations();

private:
    QPointer<QProgressDialog> dialog_;  // gone with its parent, should that go first
    QElapsedTimer started_;
    int delayMs_;
    bool counted_ = false;
};

class QtReportUi : public ReportUi {
public:
    // Previews become sub-windows of `area` (top-level windows without one);
    // dialogs belong to `window`, else to the active window.
    explicit QtReportUi(QWidget *window = nullptr, QMdiArea *area = nullptr);

    void Preview(const std::string &pdfPath, const std::string &title, const ReportExport &exportTo) override;
    bool Print(const std::string &pdfPath, const std::string &title) override;
    std::optional<ReportLayout> EditLayout(const LayoutEditRequest &request) override;
    std::unique_ptr<ReportProgress> BeginProgress(const std::string &title) override;

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
