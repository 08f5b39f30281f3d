#pragma once
// A report's pages inside the host: zoom, page navigation, print and export.
#include "report/reportui.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QPdfDocument;
class QPdfSearchModel;
class QPdfView;
class QSpinBox;

// Where and in which format the person wants a copy of the report.
struct ExportChoice {
    QString format;  // "pdf", "csv" or "xlsx"
    QString path;
    bool openAfter = false;  // "Abrir após exportar"
};

// What the export dialog starts from: the format and folder of the last
// export, the file name made of report, company and period.
struct ExportStart {
    QString format;
    QString folder;
    QString fileName;  // without the suffix
    bool openAfter = false;
};

// A file name of report, company and period: no folder separators or
// characters other systems refuse, "relatorio" when nothing is left.
QString ExportFileName(const QString &title, const QString &subject);

// The format of a file the person named: its own suffix when it is one we
// write, else the format of the filter chosen, whose suffix is then added.
ExportChoice ExportChoiceFor(const QString &path, const QString &filterFormat);

// What the preview asks of the desktop; tests put their own answers in.
struct PreviewServices {
    // The file dialog; nothing when the person cancels.
    std::function<std::optional<ExportChoice>(QWidget *parent, const ExportStart &start)> chooseExport;
    // Opens a file written by an export in the desktop's program for it.
    std::function<void(const QString &path)> openFile;
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

    // What the pages are of besides the title (company, period): it goes
    // into the window's title and the export's file name.
    void SetSubject(const QString &subject);
    // The window's title before any number the host adds to tell twins apart.
    QString BaseWindowTitle() const;

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

    // Find: the bar (Ctrl+F), the next or previous match of `text` from the
    // page shown, over every page; false when there is none. The match
    // found is highlighted with the others on its page.
    void ShowFind();
    bool FindNext(const QString &text);
    bool FindPrevious(const QString &text);
    QLineEdit *FindBox() const { return findBox_; }
    // The match shown: its page (0-based) and its place among the page's
    // matches, -1 without one.
    int MatchPage() const { return matchPage_; }
    int MatchIndex() const { return matchIndex_; }
    // Where the highlighted matches are drawn, in the viewport's coordinates.
    QList<QRect> HighlightRects() const;
    // Where page `page` is drawn in the viewport, as the view lays it out.
    QRect PageRect(int page) const;

    // The thumbnails beside the pages, one per page; a click goes there.
    QListWidget *Thumbnails() const { return thumbnails_; }

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
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BuildToolBar();
    QWidget *BuildFindBar();
    bool Find(const QString &text, bool forward);
    void ShowMatch();
    void FillThumbnails();
    void DrawVisibleThumbnails();
    qreal PixelsPerPoint() const;
    // Back in front with the focus on the pages, after a dialog of its own.
    void ComeBack();
    void ShowCurrentPage();
    void SetZoom(qreal factor);

    QString title_;
    QString subject_;
    ReportExport exportTo_;
    PreviewServices services_;
    QPdfDocument *document_;
    QPdfView *view_;
    QSpinBox *pageBox_ = nullptr;
    QLabel *pageCountLabel_ = nullptr;
    QLabel *zoomLabel_ = nullptr;
    QLabel *status_ = nullptr;
    int currentPage_ = 0;

    QPdfSearchModel *search_ = nullptr;
    QWidget *findBar_ = nullptr;
    QLineEdit *findBox_ = nullptr;
    QLabel *findStatus_ = nullptr;
    QWidget *highlight_ = nullptr;
    int matchPage_ = -1;
    int matchIndex_ = -1;

    QListWidget *thumbnails_ = nullptr;
};
