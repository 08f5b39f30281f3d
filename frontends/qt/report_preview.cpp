#include "report_preview.h"

#include "print_support.h"
#include "report_theme.h"
#include "rtl/sysutils.h"

#include <QAction>
#include <QApplication>
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

// A report title as a file name: no folder separators or characters other
// systems refuse.
QString FileNameFor(const QString &title)
{
    QString name = title.trimmed();
    for (QChar &c : name)
        if (QStringLiteral("/\\:*?\"<>|").contains(c))
            c = QLatin1Char('-');
    return name.isEmpty() ? QStringLiteral("relatorio") : name;
}

// The folder the last export went to, for the next one in this session.
QString &LastExportFolder()
{
    static QString folder;
    return folder;
}

std::optional<ExportChoice> AskExportFile(QWidget *parent, const QString &title)
{
    QFileDialog dialog(parent, QStringLiteral("Exportar relatório"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Salvar em:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Nome do arquivo:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Formato:"));
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Exportar"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Cancelar"));
    QStringList filters;
    for (const ExportFilter &f : ExportFilters)
        filters << QString::fromUtf8(f.filter);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(QStringLiteral("xlsx"));
    QString folder = LastExportFolder();
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    dialog.setDirectory(folder);
    dialog.selectFile(FileNameFor(title) + QStringLiteral(".xlsx"));
    // The suggested name follows the format picked.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, filters](const QString &filter) {
        const QString suffix = ExportFilters[std::max<qsizetype>(0, filters.indexOf(filter))].format;
        dialog.setDefaultSuffix(suffix);
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString path = dialog.selectedFiles().first();
    const qsizetype index = std::max<qsizetype>(0, filters.indexOf(dialog.selectedNameFilter()));
    LastExportFolder() = QFileInfo(path).absolutePath();
    return ExportChoiceFor(path, QString::fromLatin1(ExportFilters[index].format));
}

} // namespace

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
    setWindowTitle(QStringLiteral("Visualizar – ") + title);
    setWindowIcon(ThemeIcon("document-print-preview", QStyle::SP_FileDialogContentsView));

    view_->setDocument(document_);
    // One page at a time: the page shown is exactly the one the box names.
    view_->setPageMode(QPdfView::PageMode::SinglePage);
    view_->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    view_->setDocumentMargins(QMargins(12, 12, 12, 12));
    view_->setFocusPolicy(Qt::StrongFocus);
    QObject::connect(view_->pageNavigator(), &QPdfPageNavigator::currentPageChanged, this, [this](int page) {
        currentPage_ = page;
        ShowCurrentPage();
    });

    status_ = new QLabel(this);
    status_->setContentsMargins(6, 2, 6, 2);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    BuildToolBar();
    layout->addWidget(findChild<QToolBar *>());
    layout->addWidget(view_, 1);
    layout->addWidget(status_);
    setFocusProxy(view_);
    ShowCurrentPage();
    resize(900, 700);
}

ReportPreview::~ReportPreview()
{
    // The view goes before the document it paints.
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
    const std::optional<ExportChoice> choice = services_.chooseExport(this, title_);
    if (!choice) {
        ComeBack();
        return;
    }
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
