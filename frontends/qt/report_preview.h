#pragma once
// A report's pages inside the host: zoom, page navigation, print and export.
#include "report/reportui.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QAction;
class QLabel;
class QPdfDocument;
class QPdfView;
class QSpinBox;

// Where and in which format the person wants a copy of the report.
struct ExportChoice {
    QString format;  // "pdf", "csv" or "xlsx"
    QString path;
};

// The format of a file the person named: its own suffix when it is one we
// write, else the format of the filter chosen, whose suffix is then added.
ExportChoice ExportChoiceFor(const QString &path, const QString &filterFormat);

// What the preview asks of the desktop; tests put their own answers in.
struct PreviewServices {
    // The file dialog; nothing when the person cancels.
    std::function<std::optional<ExportChoice>(QWidget *parent, const QString &title)> chooseExport;
    // The print dialog and the printing itself; false when cancelled.
    // Raises Exception with the reason when it cannot print.
    std::function<bool(QPdfDocument &document, const QString &title, QWidget *parent, int currentPage)> print;
    std::function<void(QWidget *parent, const QString &text)> showError;
    // Whether the system knows a printer; without the answer, a print is tried.
    std::function<bool()> hasPrinter;
    static PreviewServices Desktop();
};

class ReportPreview : public QWidget {
public:
    // Raises Exception (in Portuguese) when the file is no readable PDF.
    ReportPreview(const QString &pdfPath, const QString &title, ReportExport exportTo,
                  PreviewServices services = PreviewServices::Desktop(), QWidget *parent = nullptr);
    ~ReportPreview() override;

    int PageCount() const;
    int CurrentPage() const;  // 0-based
    void GoToPage(int page);  // clamped to the document
    void NextPage() { GoToPage(CurrentPage() + 1); }
    void PreviousPage() { GoToPage(CurrentPage() - 1); }
    void ZoomIn();
    void ZoomOut();
    void FitWidth();
    void FitPage();
    qreal ZoomFactor() const;
    void Print();
    void Export();

    QPdfView *View() const { return view_; }
    QSpinBox *PageBox() const { return pageBox_; }
    QString PageText() const;  // "Página N de M"
    QString StatusText() const;
    // The toolbar's actions by name: "first", "previous", "next", "last",
    // "zoomIn", "zoomOut", "fitWidth", "fitPage", "print", "export", "close".
    QAction *Action(const char *name) const;

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void BuildToolBar();
    // Back in front with the focus on the pages, after a dialog of its own.
    void ComeBack();
    void ShowCurrentPage();
    void SetZoom(qreal factor);

    QString title_;
    ReportExport exportTo_;
    PreviewServices services_;
    QPdfDocument *document_;
    QPdfView *view_;
    QSpinBox *pageBox_ = nullptr;
    QLabel *pageCountLabel_ = nullptr;
    QLabel *zoomLabel_ = nullptr;
    QLabel *status_ = nullptr;
    int currentPage_ = 0;
};
