#include "report_preview.h"

#include "print_support.h"
#include "report_theme.h"
#include "rtl/sysutils.h"

#include "desktop_settings.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPdfSearchModel>
#include <QPdfLink>
#include <QPushButton>
#include <QScrollBar>
#include <QUrl>
#include <QWheelEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPdfDocument>
#include <QPdfPageNavigator>
#include <QPdfView>
#include <QScreen>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr std::array<qreal, 15> ZoomSteps{0.25, 0.33, 0.5, 0.67, 0.75, 0.9, 1.0, 1.1, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0, 4.0};

struct ExportFilter {
    const char *format;
    const char *filter;
};
constexpr std::array<ExportFilter, 3> ExportFilters{{
    {"xlsx", "Planilha XLSX (*.xlsx)"},
    {"csv", "Texto separado por ponto e vírgula – CSV (*.csv)"},
    {"pdf", "Documento PDF (*.pdf)"},
}};

std::optional<ExportChoice> AskExportFile(QWidget *parent, const ExportStart &start)
{
    QFileDialog dialog(parent, QStringLiteral("Exportar relatório"));
    // Qt's own dialog: in Portuguese whatever the machine, with the option below.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Salvar em:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Nome do arquivo:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Formato:"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Exportar"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Cancelar"));
    QStringList filters;
    qsizetype chosen = 0;
    for (const ExportFilter &f : ExportFilters) {
        if (start.format == QLatin1String(f.format))
            chosen = filters.size();
        filters << QString::fromUtf8(f.filter);
    }
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters[chosen]);
    dialog.setDefaultSuffix(QString::fromLatin1(ExportFilters[static_cast<std::size_t>(chosen)].format));
    QString folder = start.folder;
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    dialog.setDirectory(folder);
    dialog.selectFile(start.fileName + QLatin1Char('.') + ExportFilters[static_cast<std::size_t>(chosen)].format);
    // "Abrir após exportar" under the dialog's own fields.
    auto *openAfter = new QCheckBox(QStringLiteral("Abrir após exportar"), &dialog);
    openAfter->setChecked(start.openAfter);
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout()))
        grid->addWidget(openAfter, grid->rowCount(), 0, 1, grid->columnCount());
    // The suggested name follows the format picked.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, filters](const QString &filter) {
        const QString suffix = ExportFilters[static_cast<std::size_t>(std::max<qsizetype>(0, filters.indexOf(filter)))].format;
        dialog.setDefaultSuffix(suffix);
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString path = dialog.selectedFiles().first();
    const qsizetype index = std::max<qsizetype>(0, filters.indexOf(dialog.selectedNameFilter()));
    ExportChoice choice = ExportChoiceFor(path, QString::fromLatin1(ExportFilters[static_cast<std::size_t>(index)].format));
    choice.openAfter = openAfter->isChecked();
    return choice;
}

// The matches on a page and the page's text, drawn over the pages.
class Highlight : public QWidget {
public:
    explicit Highlight(ReportPreview *preview, QWidget *viewport) : QWidget(viewport), preview_(preview)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const QList<QRect> rects = preview_->HighlightRects();
        if (rects.isEmpty())
            return;
        QPainter p(this);
        QColor others(255, 200, 0, 90), current(255, 120, 0, 130);
        for (qsizetype i = 0; i < rects.size(); ++i) {
            const bool shown = i == preview_->MatchIndex();
            p.fillRect(rects[i], shown ? current : others);
            if (shown) {
                p.setPen(QPen(QColor(200, 60, 0), 2));
                p.drawRect(rects[i].adjusted(-1, -1, 1, 1));
            }
        }
    }

private:
    ReportPreview *preview_;
};

} // namespace

QString ExportFileName(const QString &title, const QString &subject)
{
    QString name = title.trimmed();
    if (!subject.trimmed().isEmpty())
        name += QStringLiteral(" - ") + subject.trimmed();
    QString out;
    for (QChar c : name) {
        if (QStringLiteral("/\\:*?\"<>|").contains(c))
            c = QLatin1Char('-');
        else if (c == QChar(0x00B7) || c == QChar(0x2013))  // the subject's separators
            c = QLatin1Char('-');
        out += c;
    }
    out = out.simplified();
    return out.isEmpty() ? QStringLiteral("relatorio") : out;
}

ExportChoice ExportChoiceFor(const QString &path, const QString &filterFormat)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const ExportFilter &f : ExportFilters)
        if (suffix == QLatin1String(f.format))
            return {suffix, path};
    return {filterFormat, path + QLatin1Char('.') + filterFormat};
}

PreviewServices PreviewServices::Desktop()
{
    PreviewServices s;
    s.chooseExport = AskExportFile;
    s.openFile = [](const QString &path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    s.print = PrintWithDialog;
    s.hasPrinter = HasPrinter;
    s.showError = [](QWidget *parent, const QString &text) {
        QMessageBox::warning(parent, QApplication::applicationDisplayName(), text);
    };
    return s;
}

ReportPreview::ReportPreview(const QString &pdfPath, const QString &title, ReportExport exportTo,
                             PreviewServices services, QWidget *parent)
    : QWidget(parent),
      title_(title),
      exportTo_(std::move(exportTo)),
      services_(std::move(services)),
      document_(new QPdfDocument(this)),
      view_(new QPdfView(this))
{
    OpenPdf(*document_, pdfPath);
    setWindowTitle(BaseWindowTitle());
    setWindowIcon(ThemeIcon("document-print-preview", QStyle::SP_FileDialogContentsView));

    view_->setDocument(document_);
    // The pages one under the other: the wheel goes on past a page's end;
    // the page box names the page at the view's upper part.
    view_->setPageMode(QPdfView::PageMode::MultiPage);
    view_->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    view_->setDocumentMargins(QMargins(12, 12, 12, 12));
    view_->setFocusPolicy(Qt::StrongFocus);
    QObject::connect(view_->pageNavigator(), &QPdfPageNavigator::currentPageChanged, this, [this](int page) {
        currentPage_ = page;
        ShowCurrentPage();
    });
    view_->viewport()->installEventFilter(this);
    highlight_ = new Highlight(this, view_->viewport());
    QObject::connect(view_->verticalScrollBar(), &QScrollBar::valueChanged, highlight_, [this] {
        highlight_->update();
        DrawVisibleThumbnails();
    });
    QObject::connect(view_->horizontalScrollBar(), &QScrollBar::valueChanged, highlight_, [this] { highlight_->update(); });
    search_ = new QPdfSearchModel(this);
    search_->setDocument(document_);

    thumbnails_ = new QListWidget(this);
    thumbnails_->setViewMode(QListView::IconMode);
    thumbnails_->setFlow(QListView::TopToBottom);
    thumbnails_->setWrapping(false);
    thumbnails_->setMovement(QListView::Static);
    thumbnails_->setUniformItemSizes(true);
    thumbnails_->setIconSize(QSize(96, 96));
    thumbnails_->setSpacing(4);
    thumbnails_->setFixedWidth(132);
    thumbnails_->setFocusPolicy(Qt::NoFocus);
    thumbnails_->setAccessibleName(QStringLiteral("Miniaturas das páginas"));
    QObject::connect(thumbnails_, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        GoToPage(thumbnails_->row(item));
        view_->setFocus(Qt::OtherFocusReason);
    });
    QObject::connect(thumbnails_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { DrawVisibleThumbnails(); });
    FillThumbnails();

    status_ = new QLabel(this);
    status_->setContentsMargins(6, 2, 6, 2);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    BuildToolBar();
    layout->addWidget(findChild<QToolBar *>());
    layout->addWidget(BuildFindBar());
    auto *pages = new QHBoxLayout;
    pages->setContentsMargins(0, 0, 0, 0);
    pages->setSpacing(0);
    pages->addWidget(thumbnails_);
    pages->addWidget(view_, 1);
    layout->addLayout(pages, 1);
    layout->addWidget(status_);
    setFocusProxy(view_);
    ShowCurrentPage();
    resize(900, 700);
}

ReportPreview::~ReportPreview()
{
    // The view goes before the document it paints, and tells this filter
    // nothing while it goes.
    view_->viewport()->removeEventFilter(this);
    delete view_;
}

void ReportPreview::BuildToolBar()
{
    auto *bar = new QToolBar(this);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    bar->setIconSize(QSize(20, 20));
    bar->setMovable(false);

    auto add = [this, bar](const char *name, const char *icon, QStyle::StandardPixmap fallback, const QString &text,
                           const QList<QKeySequence> &keys, auto &&slot) {
        auto *action = new QAction(ThemeIcon(icon, fallback), text, this);
        action->setObjectName(QLatin1String(name));
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        QString tip = text;
        if (!keys.isEmpty())
            tip += QStringLiteral(" (") + keys.first().toString(QKeySequence::NativeText) + QLatin1Char(')');
        action->setToolTip(tip);
        QObject::connect(action, &QAction::triggered, this, slot);
        addAction(action);  // shortcuts work wherever the focus is inside the preview
        bar->addAction(action);
        return action;
    };

    add("print", "document-print", QStyle::SP_DialogSaveButton, QStringLiteral("Imprimir"), {QKeySequence::Print},
        [this] { Print(); });
    QAction *exportAction = add("export", "document-save-as", QStyle::SP_DialogSaveButton,
                                QStringLiteral("Exportar…"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)}, [this] { Export(); });
    exportAction->setEnabled(static_cast<bool>(exportTo_));
    bar->addSeparator();

    auto iconOnly = [bar](QAction *a) {
        if (auto *button = bar->widgetForAction(a))
            static_cast<QToolButton *>(button)->setToolButtonStyle(Qt::ToolButtonIconOnly);
    };
    iconOnly(add("first", "go-first", QStyle::SP_MediaSkipBackward, QStringLiteral("Primeira página"),
                 {QKeySequence(Qt::Key_Home), QKeySequence(Qt::CTRL | Qt::Key_Home)}, [this] { GoToPage(0); }));
    iconOnly(add("previous", "go-previous", QStyle::SP_ArrowLeft, QStringLiteral("Página anterior"),
                 {QKeySequence(Qt::Key_PageUp)}, [this] { PreviousPage(); }));
    bar->addWidget(new QLabel(QStringLiteral(" Página "), bar));
    pageBox_ = new QSpinBox(bar);
    pageBox_->setRange(1, std::max(1, PageCount()));
    pageBox_->setKeyboardTracking(false);
    pageBox_->setAlignment(Qt::AlignRight);
    pageBox_->setButtonSymbols(QAbstractSpinBox::NoButtons);
    pageBox_->setAccessibleName(QStringLiteral("Número da página"));
    pageBox_->setMinimumWidth(pageBox_->fontMetrics().horizontalAdvance(QString::number(PageCount()) + QStringLiteral("000")));
    QObject::connect(pageBox_, &QSpinBox::valueChanged, this, [this](int page) { GoToPage(page - 1); });
    // After the number and Enter the pages take the keys again (Space
    // scrolls them rather than erasing the number).
    QObject::connect(pageBox_, &QAbstractSpinBox::editingFinished, this, [this] {
        if (pageBox_->hasFocus())
            view_->setFocus(Qt::OtherFocusReason);
    });
    bar->addWidget(pageBox_);
    pageCountLabel_ = new QLabel(bar);
    bar->addWidget(pageCountLabel_);
    iconOnly(add("next", "go-next", QStyle::SP_ArrowRight, QStringLiteral("Próxima página"),
                 {QKeySequence(Qt::Key_PageDown)}, [this] { NextPage(); }));
    iconOnly(add("last", "go-last", QStyle::SP_MediaSkipForward, QStringLiteral("Última página"),
                 {QKeySequence(Qt::Key_End), QKeySequence(Qt::CTRL | Qt::Key_End)},
                 [this] { GoToPage(PageCount() - 1); }));
    bar->addSeparator();

    iconOnly(add("zoomOut", "zoom-out", QStyle::SP_ArrowDown, QStringLiteral("Diminuir"),
                 {QKeySequence(Qt::CTRL | Qt::Key_Minus)}, [this] { ZoomOut(); }));
    zoomLabel_ = new QLabel(bar);
    zoomLabel_->setAlignment(Qt::AlignCenter);
    zoomLabel_->setMinimumWidth(zoomLabel_->fontMetrics().horizontalAdvance(QStringLiteral("0000 %")));
    bar->addWidget(zoomLabel_);
    iconOnly(add("zoomIn", "zoom-in", QStyle::SP_ArrowUp, QStringLiteral("Ampliar"),
                 {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
                 [this] { ZoomIn(); }));
    QAction *fitWidth = add("fitWidth", "zoom-fit-width|format-justify-fill", QStyle::SP_TitleBarMaxButton, QStringLiteral("Largura da página"),
                            {QKeySequence(Qt::CTRL | Qt::Key_2)}, [this] { FitWidth(); });
    QAction *fitPage = add("fitPage", "zoom-fit-best", QStyle::SP_TitleBarNormalButton, QStringLiteral("Página inteira"),
                           {QKeySequence(Qt::CTRL | Qt::Key_1)}, [this] { FitPage(); });
    fitWidth->setCheckable(true);
    fitPage->setCheckable(true);
    bar->addSeparator();
    add("find", "edit-find", QStyle::SP_FileDialogContentsView, QStringLiteral("Localizar"), {QKeySequence::Find},
        [this] { ShowFind(); });
    QAction *thumbs = add("thumbnails", "view-preview|view-grid", QStyle::SP_FileDialogListView, QStringLiteral("Miniaturas"),
                          {QKeySequence(Qt::Key_F4)}, [this] {
                              thumbnails_->setVisible(!thumbnails_->isVisible());
                              DrawVisibleThumbnails();
                          });
    thumbs->setCheckable(true);
    thumbs->setChecked(true);

    auto *spacer = new QWidget(bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    bar->addWidget(spacer);
    add("close", "window-close", QStyle::SP_DialogCloseButton, QStringLiteral("Fechar"), {QKeySequence(Qt::Key_Escape)},
        [this] {
            if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget()))
                sub->close();
            else
                close();
        });
}

QAction *ReportPreview::Action(const char *name) const
{
    return findChild<QAction *>(QLatin1String(name));
}

void ReportPreview::SetSubject(const QString &subject)
{
    subject_ = subject.trimmed();
    setWindowTitle(BaseWindowTitle());
}

QString ReportPreview::BaseWindowTitle() const
{
    QString t = QStringLiteral("Visualizar – ") + title_;
    if (!subject_.isEmpty())
        t += QStringLiteral(" – ") + subject_;
    return t;
}

int ReportPreview::PageCount() const { return document_->pageCount(); }

int ReportPreview::CurrentPage() const { return currentPage_; }

QString ReportPreview::PageText() const
{
    return QStringLiteral("Página %1 de %2").arg(currentPage_ + 1).arg(PageCount());
}

void ReportPreview::GoToPage(int page)
{
    page = std::clamp(page, 0, std::max(0, PageCount() - 1));
    if (page == view_->pageNavigator()->currentPage()) {
        ShowCurrentPage();
        return;
    }
    view_->pageNavigator()->jump(page, QPointF(), view_->zoomFactor());
}

void ReportPreview::ShowCurrentPage()
{
    if (pageBox_) {
        const QSignalBlocker block(pageBox_);
        pageBox_->setValue(currentPage_ + 1);
    }
    if (pageCountLabel_)
        pageCountLabel_->setText(QStringLiteral(" de %1 ").arg(PageCount()));
    // The page shown is the thumbnail marked.
    if (thumbnails_ && currentPage_ < thumbnails_->count() && thumbnails_->currentRow() != currentPage_) {
        const QSignalBlocker block(thumbnails_);
        thumbnails_->setCurrentRow(currentPage_);
        thumbnails_->scrollToItem(thumbnails_->item(currentPage_));
    }
    const bool atStart = currentPage_ <= 0;
    const bool atEnd = currentPage_ >= PageCount() - 1;
    if (QAction *a = Action("first"))
        a->setEnabled(!atStart);
    if (QAction *a = Action("previous"))
        a->setEnabled(!atStart);
    if (QAction *a = Action("next"))
        a->setEnabled(!atEnd);
    if (QAction *a = Action("last"))
        a->setEnabled(!atEnd);

    const QPdfView::ZoomMode mode = view_->zoomMode();
    // A fitted page whose bar comes and goes changes the width it fits, which
    // brings the bar back: the loop never ends. A fit fixes the bars instead.
    view_->setVerticalScrollBarPolicy(mode == QPdfView::ZoomMode::FitToWidth  ? Qt::ScrollBarAlwaysOn
                                      : mode == QPdfView::ZoomMode::FitInView ? Qt::ScrollBarAlwaysOff
                                                                              : Qt::ScrollBarAsNeeded);
    view_->setHorizontalScrollBarPolicy(mode == QPdfView::ZoomMode::Custom ? Qt::ScrollBarAsNeeded
                                                                           : Qt::ScrollBarAlwaysOff);
    if (QAction *a = Action("fitWidth"))
        a->setChecked(mode == QPdfView::ZoomMode::FitToWidth);
    if (QAction *a = Action("fitPage"))
        a->setChecked(mode == QPdfView::ZoomMode::FitInView);
    if (zoomLabel_)
        zoomLabel_->setText(QStringLiteral("%1 %").arg(std::lround(ZoomFactor() * 100)));
}

qreal ReportPreview::ZoomFactor() const
{
    // What the fit modes work out for the current page, as the view does.
    const QSizeF points = document_->pagePointSize(currentPage_);
    const QScreen *screen = view_->screen() ? view_->screen() : QGuiApplication::primaryScreen();
    const qreal pixelsPerPoint = screen->logicalDotsPerInch() / 72.0;
    const QMargins m = view_->documentMargins();
    const QSize area = view_->viewport()->size() - QSize(m.left() + m.right(), m.top() + m.bottom());
    if (points.isEmpty() || area.isEmpty())
        return view_->zoomFactor();
    const qreal byWidth = area.width() / (points.width() * pixelsPerPoint);
    const qreal byHeight = area.height() / (points.height() * pixelsPerPoint);
    switch (view_->zoomMode()) {
    case QPdfView::ZoomMode::FitToWidth: return byWidth;
    case QPdfView::ZoomMode::FitInView: return std::min(byWidth, byHeight);
    default: return view_->zoomFactor();
    }
}

void ReportPreview::SetZoom(qreal factor)
{
    view_->setZoomFactor(std::clamp(factor, ZoomSteps.front(), ZoomSteps.back()));
    view_->setZoomMode(QPdfView::ZoomMode::Custom);
    ShowCurrentPage();
}

void ReportPreview::ZoomIn()
{
    const qreal now = ZoomFactor() + 0.001;
    const auto next = std::upper_bound(ZoomSteps.begin(), ZoomSteps.end(), now);
    SetZoom(next == ZoomSteps.end() ? ZoomSteps.back() : *next);
}

void ReportPreview::ZoomOut()
{
    const qreal now = ZoomFactor() - 0.001;
    auto below = std::lower_bound(ZoomSteps.begin(), ZoomSteps.end(), now);
    SetZoom(below == ZoomSteps.begin() ? ZoomSteps.front() : *(below - 1));
}

void ReportPreview::FitWidth()
{
    view_->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    ShowCurrentPage();
}

void ReportPreview::FitPage()
{
    view_->setZoomMode(QPdfView::ZoomMode::FitInView);
    ShowCurrentPage();
}

void ReportPreview::Print()
{
    if (!services_.print)
        return;
    try {
        if (services_.print(*document_, title_, this, currentPage_))
            status_->setText(QStringLiteral("Relatório enviado para a impressora."));
    } catch (const NoPrinterError &e) {
        services_.showError(this, QString::fromStdString(e.Message()) +
                                      QStringLiteral(" Para imprimi-lo em outro computador, use Exportar… e grave um PDF."));
    } catch (const std::exception &e) {
        services_.showError(this, QString::fromUtf8(e.what()));
    }
    ComeBack();
}

void ReportPreview::Export()
{
    if (!exportTo_ || !services_.chooseExport)
        return;
    DesktopSettings settings;
    const ExportStart start{settings.ExportFormat(), settings.ExportFolder(), ExportFileName(title_, subject_),
                            settings.OpenAfterExport()};
    const std::optional<ExportChoice> choice = services_.chooseExport(this, start);
    if (!choice) {
        ComeBack();
        return;
    }
    settings.RememberExport(choice->format, QFileInfo(choice->path).absolutePath(), choice->openAfter);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ExportOutcome outcome;
    try {
        outcome = exportTo_(choice->format.toStdString(), choice->path.toStdString());
    } catch (const std::exception &e) {
        outcome = {ExportOutcome::Kind::Failed, e.what()};
    }
    QApplication::restoreOverrideCursor();
    ComeBack();
    switch (outcome.kind) {
    case ExportOutcome::Kind::Written:
        status_->setText(QStringLiteral("Relatório exportado para %1").arg(QDir::toNativeSeparators(choice->path)));
        if (choice->openAfter && services_.openFile)
            services_.openFile(choice->path);
        break;
    case ExportOutcome::Kind::Cancelled:
        status_->setText(QStringLiteral("Exportação cancelada; nada foi gravado."));
        break;
    case ExportOutcome::Kind::Failed:
        status_->setText(QString());
        services_.showError(this, QStringLiteral("Não foi possível exportar o relatório para '%1': %2")
                                      .arg(QDir::toNativeSeparators(choice->path), QString::fromStdString(outcome.reason)));
        ComeBack();
        break;
    }
}

void ReportPreview::ComeBack()
{
    // The file dialog and the progress hand the focus back to the main
    // window, whose screen would come in front of these pages; what they
    // leave queued runs first, then the pages come back.
    auto raise = [this] {
        if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget())) {
            if (QMdiArea *area = sub->mdiArea())
                area->setActiveSubWindow(sub);
        } else {
            activateWindow();
        }
        view_->setFocus(Qt::OtherFocusReason);
    };
    raise();
    QTimer::singleShot(0, this, raise);
}

void ReportPreview::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    ShowCurrentPage();
}

void ReportPreview::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    ShowCurrentPage();  // a fit zoom changes with the size
}

QString ReportPreview::StatusText() const { return status_->text(); }

// ---------------------------------------------------------------- find

QWidget *ReportPreview::BuildFindBar()
{
    findBar_ = new QWidget(this);
    auto *row = new QHBoxLayout(findBar_);
    row->setContentsMargins(6, 2, 6, 2);
    row->addWidget(new QLabel(QStringLiteral("Localizar:"), findBar_));
    findBox_ = new QLineEdit(findBar_);
    findBox_->setPlaceholderText(QStringLiteral("nº do documento, CFOP, nome…"));
    findBox_->setClearButtonEnabled(true);
    findBox_->installEventFilter(this);
    row->addWidget(findBox_, 1);
    auto *previous = new QPushButton(QStringLiteral("&Anterior"), findBar_);
    auto *next = new QPushButton(QStringLiteral("Próxi&ma"), findBar_);
    previous->setToolTip(QStringLiteral("Ocorrência anterior (Shift+F3)"));
    next->setToolTip(QStringLiteral("Próxima ocorrência (F3 ou Enter)"));
    row->addWidget(previous);
    row->addWidget(next);
    findStatus_ = new QLabel(findBar_);
    row->addWidget(findStatus_);
    auto *close = new QToolButton(findBar_);
    close->setIcon(ThemeIcon("window-close", QStyle::SP_DialogCloseButton));
    close->setToolTip(QStringLiteral("Fechar a busca (Esc)"));
    close->setAutoRaise(true);
    row->addWidget(close);
    QObject::connect(next, &QPushButton::clicked, this, [this] { FindNext(findBox_->text()); });
    QObject::connect(previous, &QPushButton::clicked, this, [this] { FindPrevious(findBox_->text()); });
    QObject::connect(findBox_, &QLineEdit::returnPressed, this, [this] { FindNext(findBox_->text()); });
    QObject::connect(close, &QToolButton::clicked, this, [this] {
        findBar_->hide();
        view_->setFocus(Qt::OtherFocusReason);
    });
    auto *again = new QAction(this);
    again->setShortcuts({QKeySequence(Qt::Key_F3)});
    again->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(again, &QAction::triggered, this, [this] {
        if (findBox_->text().isEmpty())
            ShowFind();
        else
            FindNext(findBox_->text());
    });
    addAction(again);
    auto *back = new QAction(this);
    back->setShortcuts({QKeySequence(Qt::SHIFT | Qt::Key_F3)});
    back->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(back, &QAction::triggered, this, [this] { FindPrevious(findBox_->text()); });
    addAction(back);
    findBar_->hide();
    return findBar_;
}

void ReportPreview::ShowFind()
{
    findBar_->show();
    findBox_->setFocus(Qt::ShortcutFocusReason);
    findBox_->selectAll();
}

bool ReportPreview::FindNext(const QString &text) { return Find(text, true); }
bool ReportPreview::FindPrevious(const QString &text) { return Find(text, false); }

bool ReportPreview::Find(const QString &text, bool forward)
{
    const QString wanted = text.trimmed();
    if (wanted.isEmpty() || PageCount() == 0)
        return false;
    if (search_->searchString() != wanted) {
        search_->setSearchString(wanted);
        matchPage_ = -1;
        matchIndex_ = -1;
    }
    // From the match shown, else from the page shown; round the document once.
    const int pages = PageCount();
    int page = matchPage_ >= 0 ? matchPage_ : currentPage_;
    int index = matchPage_ >= 0 ? matchIndex_ : -1;
    if (matchPage_ < 0 && !forward)
        index = std::numeric_limits<int>::max();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool found = false;
    for (int step = 0; step <= pages && !found; ++step) {
        const int count = static_cast<int>(search_->resultsOnPage(page).size());
        const int next = forward ? index + 1 : std::min(index, count) - 1;
        if (next >= 0 && next < count) {
            matchPage_ = page;
            matchIndex_ = next;
            found = true;
            break;
        }
        page = forward ? (page + 1) % pages : (page + pages - 1) % pages;
        index = forward ? -1 : std::numeric_limits<int>::max();
    }
    QApplication::restoreOverrideCursor();
    if (!found) {
        matchPage_ = matchIndex_ = -1;
        findStatus_->setText(QStringLiteral("Não encontrado"));
        highlight_->update();
        return false;
    }
    ShowMatch();
    return true;
}

void ReportPreview::ShowMatch()
{
    const QList<QPdfLink> matches = search_->resultsOnPage(matchPage_);
    findStatus_->setText(QStringLiteral("Página %1: %2 de %3").arg(matchPage_ + 1).arg(matchIndex_ + 1).arg(matches.size()));
    if (matchPage_ != currentPage_)
        GoToPage(matchPage_);
    // The match itself in view, a third from the top.
    const QList<QRect> rects = HighlightRects();
    if (matchIndex_ >= 0 && matchIndex_ < rects.size()) {
        const QRect r = rects[matchIndex_];
        QScrollBar *v = view_->verticalScrollBar();
        if (r.top() < 0 || r.bottom() > view_->viewport()->height())
            v->setValue(v->value() + r.top() - view_->viewport()->height() / 3);
        QScrollBar *h = view_->horizontalScrollBar();
        if (r.left() < 0 || r.right() > view_->viewport()->width())
            h->setValue(h->value() + r.left() - view_->viewport()->width() / 3);
    }
    highlight_->update();
}

qreal ReportPreview::PixelsPerPoint() const
{
    // The view measures pages against the primary screen.
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() / 72.0 : 1.0;
}

QRect ReportPreview::PageRect(int page) const
{
    // The view's own layout: pages one under the other, `pageSpacing`
    // apart, inside the document margins, centred across.
    if (page < 0 || page >= PageCount())
        return {};
    const QMargins m = view_->documentMargins();
    const QSize viewport = view_->viewport()->size();
    const auto sizeOf = [&](int p) {
        const QSize natural = QSizeF(document_->pagePointSize(p) * PixelsPerPoint()).toSize();
        switch (view_->zoomMode()) {
        case QPdfView::ZoomMode::FitToWidth:
            return QSizeF(QSizeF(natural) * (qreal(viewport.width() - m.left() - m.right()) / natural.width())).toSize();
        case QPdfView::ZoomMode::FitInView:
            return natural.scaled(viewport - QSize(m.left() + m.right(), view_->pageSpacing()), Qt::KeepAspectRatio);
        default:
            return QSizeF(document_->pagePointSize(p) * PixelsPerPoint() * view_->zoomFactor()).toSize();
        }
    };
    int y = m.top();
    int widest = 0;
    QSize size;
    for (int p = 0; p < PageCount(); ++p) {
        const QSize s = sizeOf(p);
        widest = std::max(widest, s.width());
        if (p < page)
            y += s.height() + view_->pageSpacing();
        else if (p == page)
            size = s;
    }
    const int total = widest + m.left() + m.right();
    const int x = (std::max(total, viewport.width()) - size.width()) / 2;
    return QRect(QPoint(x, y) - QPoint(view_->horizontalScrollBar()->value(), view_->verticalScrollBar()->value()), size);
}

QList<QRect> ReportPreview::HighlightRects() const
{
    QList<QRect> out;
    if (matchPage_ < 0 || !findBar_->isVisible())
        return out;
    const QRect page = PageRect(matchPage_);
    const QSizeF points = document_->pagePointSize(matchPage_);
    if (page.isEmpty() || points.isEmpty())
        return out;
    const qreal sx = page.width() / points.width(), sy = page.height() / points.height();
    for (const QPdfLink &match : search_->resultsOnPage(matchPage_)) {
        QRectF all;
        for (const QRectF &r : match.rectangles())
            all = all.isNull() ? r : all.united(r);
        out << QRectF(page.left() + all.left() * sx, page.top() + all.top() * sy, all.width() * sx, all.height() * sy)
                   .toAlignedRect()
                   .adjusted(-2, -1, 2, 1);
    }
    return out;
}

// ---------------------------------------------------------------- thumbnails

void ReportPreview::FillThumbnails()
{
    thumbnails_->clear();
    QPixmap blank(thumbnails_->iconSize());
    blank.fill(Qt::white);
    const QIcon placeholder(blank);
    for (int p = 0; p < PageCount(); ++p) {
        auto *item = new QListWidgetItem(placeholder, QString::number(p + 1), thumbnails_);
        item->setTextAlignment(Qt::AlignHCenter);
    }
}

void ReportPreview::DrawVisibleThumbnails()
{
    // Only the ones in sight are drawn: a report may have thousands of pages.
    if (!thumbnails_->isVisible())
        return;
    const QRect shown = thumbnails_->viewport()->rect();
    for (int p = 0; p < thumbnails_->count(); ++p) {
        QListWidgetItem *item = thumbnails_->item(p);
        if (item->data(Qt::UserRole).toBool() || !thumbnails_->visualItemRect(item).intersects(shown))
            continue;
        const QSize box = thumbnails_->iconSize();
        const QSize size = document_->pagePointSize(p).scaled(box, Qt::KeepAspectRatio).toSize();
        const QImage image = document_->render(p, size.expandedTo(QSize(1, 1)));
        if (image.isNull())
            continue;
        item->setIcon(QIcon(QPixmap::fromImage(image)));
        item->setData(Qt::UserRole, true);
    }
}

// ---------------------------------------------------------------- events

bool ReportPreview::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == view_->viewport()) {
        if (event->type() == QEvent::Wheel) {
            // Ctrl+wheel zooms, as in every viewer.
            auto *wheel = static_cast<QWheelEvent *>(event);
            if (wheel->modifiers() & Qt::ControlModifier) {
                const int delta = wheel->angleDelta().y();
                if (delta > 0)
                    ZoomIn();
                else if (delta < 0)
                    ZoomOut();
                return true;
            }
        } else if (event->type() == QEvent::Resize && highlight_) {
            highlight_->setGeometry(view_->viewport()->rect());
        }
    } else if (watched == findBox_ && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape) {
            findBar_->hide();
            highlight_->update();
            view_->setFocus(Qt::OtherFocusReason);
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && (key->modifiers() & Qt::ShiftModifier)) {
            FindPrevious(findBox_->text());
            return true;
        }
    } else if (watched == findBox_ && event->type() == QEvent::ShortcutOverride) {
        // Esc closes the search here, not the preview.
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            event->accept();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
