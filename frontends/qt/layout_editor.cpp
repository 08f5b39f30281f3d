#include "layout_editor.h"

#include "layout_editor_parts.h"
#include "print_support.h"
#include "report_theme.h"
#include "yes_no.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPdfDocument>
#include <QPdfPageNavigator>
#include <QPdfView>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QKeyEvent>
#include <QTableWidget>
#include <QAbstractButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {
double PageWidthPoints(const ReportLayout &layout)
{
    const bool letter = layout.page == "Letter";
    const double shortSide = letter ? 612 : 595;
    const double longSide = letter ? 792 : 842;
    return layout.landscape ? longSide : shortSide;
}
} // namespace

LayoutEditor::LayoutEditor(LayoutEditRequest request, QWidget *parent)
    : QDialog(parent), request_(std::move(request)), layout_(request_.layout), wheelGuard_(new WheelGuard(this))
{
    setWindowTitle(QStringLiteral("Editar relatório – ") + ToQString(request_.title));
    setWindowIcon(ThemeIcon("document-properties", QStyle::SP_FileDialogDetailedView));
    showError_ = [this](const QString &text) { QMessageBox::warning(this, windowTitle(), text); };
    ask_ = [this](const QString &question) { return AskYesNo(this, windowTitle(), question); };

    auto *tabs = new QTabWidget;
    tabs->addTab(BuildColumnsTab(), QStringLiteral("Colunas"));
    tabs->addTab(BuildGroupsTab(), QStringLiteral("Grupos"));
    tabs->addTab(BuildPageTab(), QStringLiteral("Página"));

    auto *splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(tabs);
    splitter->addWidget(BuildPreview());
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &LayoutEditor::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &LayoutEditor::reject);

    auto *bottom = new QHBoxLayout;
    if (request_.original) {
        // The report in the list is the person's edit: say so, and offer the way back.
        auto *restore = NamedButton("restore", QStringLiteral("&Restaurar o layout original"), "edit-undo",
                                    QStyle::SP_DialogResetButton);
        restore->setToolTip(QStringLiteral("Volta ao layout com que o relatório foi entregue"));
        connect(restore, &QPushButton::clicked, this, [this] { RestoreOriginal(); });
        auto *note = new QLabel(QStringLiteral("Este relatório está com um layout alterado."));
        note->setObjectName(QStringLiteral("editedNote"));
        bottom->addWidget(note);
        bottom->addWidget(restore);
    }
    bottom->addStretch(1);
    bottom->addWidget(buttons);
    // On a small screen the tables and the page scroll; OK and Cancelar
    // stay in sight below them.
    auto *scroller = new QScrollArea;
    scroller->setObjectName(QStringLiteral("editorScroller"));
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(true);
    scroller->setWidget(splitter);
    scroller->setMinimumSize(200, 150);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(scroller, 1);
    layout->addLayout(bottom);

    FillColumns(0);
    FillGroups(0);
    // Roomy where the desktop has the room, never larger than it.
    QSize size(1340, 720);
    QRect room;
    if (const QScreen *desktop = screen()) {
        room = desktop->availableGeometry();
        // The frame the window manager adds must fit too.
        size = size.boundedTo(room.size() - QSize(16, 40));
    }
    resize(size);
    if (room.isValid())
        move(room.center() - QPoint(size.width() / 2, size.height() / 2 + 12));
    // The page gets room enough to read a line of it.
    splitter->setSizes({size.width() * 52 / 100, size.width() * 48 / 100});
    // The person starts on the first column's title, not on the tabs.
    tabs->setFocusPolicy(Qt::TabFocus);
    QTimer::singleShot(0, this, [this] {
        columns_->setFocus(Qt::OtherFocusReason);
        if (columns_->rowCount() > 0)
            columns_->setCurrentCell(0, ColCaption);
    });
    // The first page shows as soon as the dialog runs.
    QTimer::singleShot(0, this, [this] { RefreshPreview(); });
}

void LayoutEditor::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter)
        return QDialog::keyPressEvent(event);
    // Ctrl+Enter is OK; a plain Enter does what the focused control does,
    // never OK behind the person's back.
    if (event->modifiers() & Qt::ControlModifier) {
        accept();
        return;
    }
    QWidget *focused = QApplication::focusWidget();
    if (auto *table = qobject_cast<QTableWidget *>(focused)) {
        if (QTableWidgetItem *item = table->currentItem(); item && (item->flags() & Qt::ItemIsEditable))
            table->editItem(item);
        else if (auto *box = qobject_cast<QComboBox *>(table->cellWidget(table->currentRow(), table->currentColumn())))
            box->showPopup();
    } else if (auto *box = qobject_cast<QComboBox *>(focused)) {
        box->showPopup();
    } else if (auto *button = qobject_cast<QAbstractButton *>(focused)) {
        button->click();
    }
    event->accept();
}

LayoutEditor::~LayoutEditor()
{
    delete previewView_;  // before the document it paints
}

QWidget *LayoutEditor::BuildPageTab()
{
    auto *page = new QWidget;

    auto *orientation = new QGroupBox(QStringLiteral("Orientação"), page);
    portrait_ = new QRadioButton(QStringLiteral("Retrato"), orientation);
    landscape_ = new QRadioButton(QStringLiteral("Paisagem"), orientation);
    portrait_->setIcon(ThemeIcon("x-office-document", QStyle::SP_FileIcon));
    landscape_->setIcon(ThemeIcon("x-office-presentation", QStyle::SP_FileIcon));
    auto *orientationLayout = new QHBoxLayout(orientation);
    orientationLayout->addWidget(portrait_);
    orientationLayout->addWidget(landscape_);
    orientationLayout->addStretch(1);
    connect(landscape_, &QRadioButton::toggled, this, [this](bool on) {
        layout_.landscape = on;
        Changed();
    });

    pageSize_ = new QComboBox(page);
    pageSize_->addItem(QStringLiteral("A4 (210 × 297 mm)"), QStringLiteral("A4"));
    pageSize_->addItem(QStringLiteral("Carta (216 × 279 mm)"), QStringLiteral("Letter"));
    connect(pageSize_, &QComboBox::currentIndexChanged, this, [this] {
        layout_.page = pageSize_->currentData().toString().toStdString();
        Changed();
    });

    summary_ = new QCheckBox(QStringLiteral("Mostrar os totais do relatório inteiro no fim"), page);
    summaryCaption_ = new QLineEdit(page);
    connect(summary_, &QCheckBox::toggled, this, [this](bool on) {
        layout_.summary = on;
        summaryCaption_->setEnabled(on);
        Changed();
    });
    connect(summaryCaption_, &QLineEdit::textEdited, this, [this](const QString &text) {
        layout_.summaryCaption = text.toStdString();
        Changed();
    });
    emptyText_ = new QLineEdit(page);
    connect(emptyText_, &QLineEdit::textEdited, this, [this](const QString &text) {
        layout_.emptyText = text.toStdString();
        Changed();
    });

    auto *form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);  // texts widen, the paper box does not
    form->addRow(QStringLiteral("Papel:"), pageSize_);
    form->addRow(QString(), summary_);
    form->addRow(QStringLiteral("Título dos totais:"), summaryCaption_);
    form->addRow(QStringLiteral("Sem registros, mostrar:"), emptyText_);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(orientation);
    layout->addLayout(form);
    layout->addStretch(1);
    FillPage();
    return page;
}

void LayoutEditor::FillPage()
{
    const QSignalBlocker blockPortrait(portrait_), blockLandscape(landscape_), blockSize(pageSize_),
        blockSummary(summary_);
    (layout_.landscape ? landscape_ : portrait_)->setChecked(true);
    pageSize_->setCurrentIndex(std::max(0, pageSize_->findData(ToQString(layout_.page))));
    summary_->setChecked(layout_.summary);
    summaryCaption_->setText(ToQString(layout_.summaryCaption));
    summaryCaption_->setEnabled(layout_.summary);
    emptyText_->setText(ToQString(layout_.emptyText));
}

QWidget *LayoutEditor::BuildPreview()
{
    auto *box = new QGroupBox(QStringLiteral("Primeira página"));
    previewDocument_ = new QPdfDocument(this);
    previewView_ = new QPdfView(box);
    previewView_->setDocument(previewDocument_);
    previewView_->setPageMode(QPdfView::PageMode::SinglePage);
    // The width of the page, to read its lines; a fixed bar keeps the fit
    // from changing the width it fits.
    previewView_->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    previewView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    previewView_->setMinimumSize(420, 300);
    previewStatus_ = new QLabel(box);
    previewStatus_->setWordWrap(true);
    auto *refresh = NamedButton("refresh", QStringLiteral("Atualizar"), "view-refresh", QStyle::SP_BrowserReload);
    refresh->setToolTip(QStringLiteral("Gera de novo a primeira página com o layout como está"));
    refresh->setEnabled(static_cast<bool>(request_.previewFirstPage));
    connect(refresh, &QPushButton::clicked, this, [this] { RefreshPreview(); });

    auto zoomButton = [this](const char *name, const QString &text, const char *icon, QStyle::StandardPixmap fallback,
                             QKeySequence keys, auto &&slot) {
        auto *b = NamedButton(name, text, icon, fallback);
        b->setToolTip(QStringLiteral("%1 (%2)").arg(text, keys.toString(QKeySequence::NativeText)));
        b->setAccessibleName(text);
        b->setShortcut(keys);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    auto zoomBy = [this](qreal factor) {
        const qreal now = previewView_->zoomMode() == QPdfView::ZoomMode::Custom ? previewView_->zoomFactor()
                                                                                 : FittedZoom();
        previewView_->setZoomMode(QPdfView::ZoomMode::Custom);
        previewView_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        previewView_->setZoomFactor(std::clamp(now * factor, 0.25, 4.0));
    };
    auto *zoomOut = zoomButton("zoomOut", QStringLiteral("Diminuir"), "zoom-out", QStyle::SP_ArrowDown,
                               QKeySequence(Qt::CTRL | Qt::Key_Minus), [zoomBy] { zoomBy(1 / 1.25); });
    auto *zoomIn = zoomButton("zoomIn", QStringLiteral("Ampliar"), "zoom-in", QStyle::SP_ArrowUp,
                              QKeySequence(Qt::CTRL | Qt::Key_Plus), [zoomBy] { zoomBy(1.25); });
    auto *fit = zoomButton("fitWidth", QStringLiteral("Largura da página"), "zoom-fit-width|format-justify-fill",
                           QStyle::SP_TitleBarMaxButton, QKeySequence(Qt::CTRL | Qt::Key_2), [this] {
                               previewView_->setZoomMode(QPdfView::ZoomMode::FitToWidth);
                               previewView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                           });

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(previewStatus_, 1);
    bottom->addWidget(zoomOut, 0, Qt::AlignTop);
    bottom->addWidget(zoomIn, 0, Qt::AlignTop);
    bottom->addWidget(fit, 0, Qt::AlignTop);
    bottom->addWidget(refresh, 0, Qt::AlignTop);
    auto *layout = new QVBoxLayout(box);
    layout->addWidget(previewView_, 1);
    layout->addLayout(bottom);
    return box;
}

int LayoutEditor::SelectedRow(const QTableWidget *table) const
{
    const QList<QTableWidgetSelectionRange> ranges = table->selectedRanges();
    return ranges.isEmpty() ? -1 : ranges.first().topRow();
}

void LayoutEditor::UpdateButtons()
{
    EnableRowButtons(*this, "column", SelectedRow(columns_), static_cast<int>(layout_.columns.size()), 1,
                     !request_.fields.empty());
    EnableRowButtons(*this, "group", SelectedRow(groups_), static_cast<int>(layout_.groups.size()), 0,
                     !request_.fields.empty());
}

void LayoutEditor::Changed()
{
    if (widthNote_) {
        double sum = 0;
        for (const LayoutColumn &c : layout_.columns)
            if (c.visible)
                sum += c.width;
        widthNote_->setText(QStringLiteral("Colunas visíveis: %1 pt de largura; a página tem %2 pt. "
                                           "Colunas que não cabem são estreitadas por igual.")
                                .arg(GroupedNumber(std::llround(sum)), GroupedNumber(std::llround(PageWidthPoints(layout_)))));
    }
    if (previewStatus_ && previewDocument_ && previewDocument_->pageCount() > 0)
        previewStatus_->setText(QStringLiteral("O layout mudou: clique em Atualizar para ver a primeira página como ficou."));
}

QPushButton *LayoutEditor::Button(const char *name) const
{
    return findChild<QPushButton *>(QLatin1String(name));
}

QString LayoutEditor::PreviewStatus() const { return previewStatus_->text(); }

std::optional<QString> LayoutEditor::Problem() const
{
    try {
        const ReportLayout checked = ParseLayout(SerializeLayout(layout_));
        // Without the statement's columns there is nothing to check the names against.
        if (!request_.fields.empty())
            CheckLayoutFields(checked, request_.fields);
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    }
    return std::nullopt;
}

qreal LayoutEditor::FittedZoom() const
{
    const QSizeF points = previewDocument_->pagePointSize(0);
    const QScreen *desktop = previewView_->screen() ? previewView_->screen() : QGuiApplication::primaryScreen();
    const int width = previewView_->viewport()->width() - previewView_->documentMargins().left() -
                      previewView_->documentMargins().right();
    if (points.isEmpty() || width <= 0)
        return 1.0;
    return width / (points.width() * desktop->logicalDotsPerInch() / 72.0);
}

QString LayoutEditor::FieldLabel(const std::string &field) const
{
    return FieldWords(field, {&layout_, &request_.layout, request_.original ? &*request_.original : nullptr});
}

void LayoutEditor::reject()
{
    if (!(layout_ == request_.layout) &&
        !ask_(QStringLiteral("Descartar as alterações feitas no layout do relatório?")))
        return;
    QDialog::reject();
}

void LayoutEditor::RestoreOriginal()
{
    if (!request_.original)
        return;
    layout_ = *request_.original;
    FillColumns(0);
    FillGroups(0);
    FillPage();
    Changed();
    RefreshPreview();
}

void LayoutEditor::accept()
{
    if (const std::optional<QString> problem = Problem()) {
        showError_(QStringLiteral("O layout não pode ser usado e não foi salvo.\n\n") + *problem);
        return;
    }
    result_ = ParseLayout(SerializeLayout(layout_));
    QDialog::accept();
}

void LayoutEditor::RefreshPreview()
{
    if (!request_.previewFirstPage) {
        previewStatus_->setText(QStringLiteral("A primeira página não pode ser mostrada para este relatório."));
        return;
    }
    if (const std::optional<QString> problem = Problem()) {
        previewStatus_->setText(QStringLiteral("O layout ainda não pode ser usado: ") + *problem);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        const std::string path = request_.previewFirstPage(layout_);
        OpenPdf(*previewDocument_, ToQString(path));
        previewView_->pageNavigator()->jump(0, QPointF());
        previewStatus_->setText(QStringLiteral("Primeira página com o layout atual."));
    } catch (const std::exception &e) {
        previewStatus_->setText(QStringLiteral("Não foi possível mostrar a primeira página: ") + QString::fromUtf8(e.what()));
    }
    QApplication::restoreOverrideCursor();
}
