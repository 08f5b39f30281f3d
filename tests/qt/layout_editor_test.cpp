// The layout editor: each edit a person makes lands in the layout given
// back, a layout that cannot be used is refused, and cancel gives nothing.
#include "layout_editor.h"
#include "qt_fixture.h"
#include "qt_reportui.h"
#include "report_pdf_fixture.h"

#include <QApplication>
#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPdfView>
#include <QTest>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Cell = LayoutEditor::ColumnCell;

LayoutColumn Column(const char *caption, const char *field, double width, ColumnAlign align = ColumnAlign::Left,
                    ValueFormat::Kind format = ValueFormat::Kind::Text, ColumnTotal total = ColumnTotal::None)
{
    LayoutColumn c;
    c.caption = caption;
    c.field = field;
    c.width = width;
    c.align = align;
    c.format.kind = format;
    c.total = total;
    return c;
}

ReportLayout Sample()
{
    using K = ValueFormat::Kind;
    ReportLayout l;
    l.groups = {{"IDENTRSAIDA", "{DSENTRSAIDA}", "Total das {DSENTRSAIDA}", "Entrada/Saída"}};
    l.columns = {Column("CFOP", "CDCFOP", 38, ColumnAlign::Left, K::Cfop),
                 Column("Descrição", "DSCFOP", 190),
                 Column("Valor Contábil", "VLCONTABIL", 70, ColumnAlign::Right, K::Money, ColumnTotal::Sum),
                 Column("Imposto", "VLIMPOSTO", 70, ColumnAlign::Right, K::Money, ColumnTotal::Sum)};
    l.summary = false;
    return l;
}

const std::vector<std::string> Fields{"IDENTRSAIDA", "DSENTRSAIDA", "CDCFOP", "DSCFOP", "VLCONTABIL", "VLIMPOSTO", "QTITENS"};

LayoutEditRequest Request(ReportLayout layout = Sample())
{
    return {"Resumo de CFOP", std::move(layout), Fields, nullptr, std::nullopt};
}

template <class W>
W *CellWidget(QTableWidget *t, int row, int column)
{
    return qobject_cast<W *>(t->cellWidget(row, column));
}

// By what the box shows, or by the field it stands for.
void Pick(QComboBox *box, const QString &text)
{
    int index = box->findText(text);
    if (index < 0)
        index = box->findData(text);
    ASSERT_GE(index, 0) << text.toStdString();
    box->setCurrentIndex(index);
}

struct Edit {
    const char *what;
    std::function<void(LayoutEditor &)> act;        // as the person does it
    std::function<void(ReportLayout &)> expected;   // what it does to the layout
};

const std::vector<Edit> &Edits()
{
    static const std::vector<Edit> edits{
        {"hide a column",
         [](LayoutEditor &e) { e.ColumnTable()->item(1, Cell::ColShow)->setCheckState(Qt::Unchecked); },
         [](ReportLayout &l) { l.columns[1].visible = false; }},
        {"move a column up",
         [](LayoutEditor &e) {
             e.ColumnTable()->selectRow(2);
             e.Button("columnUp")->click();
         },
         [](ReportLayout &l) { std::swap(l.columns[1], l.columns[2]); }},
        {"move a column down",
         [](LayoutEditor &e) {
             e.ColumnTable()->selectRow(0);
             e.Button("columnDown")->click();
         },
         [](ReportLayout &l) { std::swap(l.columns[0], l.columns[1]); }},
        {"change a caption",
         [](LayoutEditor &e) { e.ColumnTable()->item(0, Cell::ColCaption)->setText(QStringLiteral("Código")); },
         [](ReportLayout &l) { l.columns[0].caption = "Código"; }},
        {"change a width", [](LayoutEditor &e) { CellWidget<QDoubleSpinBox>(e.ColumnTable(), 3, Cell::ColWidth)->setValue(85); },
         [](ReportLayout &l) { l.columns[3].width = 85; }},
        {"change a format",
         [](LayoutEditor &e) {
             Pick(CellWidget<QComboBox>(e.ColumnTable(), 3, Cell::ColFormat), QStringLiteral("Decimal, 4 casas (0,0000)"));
         },
         [](ReportLayout &l) { l.columns[3].format = {ValueFormat::Kind::Decimal, 4}; }},
        {"count a column",
         [](LayoutEditor &e) { Pick(CellWidget<QComboBox>(e.ColumnTable(), 1, Cell::ColTotal), QStringLiteral("Contagem")); },
         [](ReportLayout &l) { l.columns[1].total = ColumnTotal::Count; }},
        {"no total",
         [](LayoutEditor &e) { Pick(CellWidget<QComboBox>(e.ColumnTable(), 2, Cell::ColTotal), QStringLiteral("Nenhum")); },
         [](ReportLayout &l) { l.columns[2].total = ColumnTotal::None; }},
        {"centre a column",
         [](LayoutEditor &e) { Pick(CellWidget<QComboBox>(e.ColumnTable(), 0, Cell::ColAlign), QStringLiteral("Centro")); },
         [](ReportLayout &l) { l.columns[0].align = ColumnAlign::Center; }},
        {"wrap long texts",
         [](LayoutEditor &e) {
             Pick(CellWidget<QComboBox>(e.ColumnTable(), 1, Cell::ColOverflow), QStringLiteral("Quebrar linha"));
         },
         [](ReportLayout &l) { l.columns[1].overflow = ColumnOverflow::Wrap; }},
        {"add a column", [](LayoutEditor &e) { e.AddColumn("QTITENS"); },
         [](ReportLayout &l) {
             LayoutColumn c = Column("QTITENS", "QTITENS", 60, ColumnAlign::Right, ValueFormat::Kind::Quantity);
             l.columns.push_back(c);
         }},
        {"remove a column",
         [](LayoutEditor &e) {
             e.ColumnTable()->selectRow(1);
             e.Button("columnRemove")->click();
         },
         [](ReportLayout &l) { l.columns.erase(l.columns.begin() + 1); }},
        {"add a group and pick its field",
         [](LayoutEditor &e) {
             e.Button("groupAdd")->click();
             Pick(CellWidget<QComboBox>(e.GroupTable(), 1, LayoutEditor::GroupField), QStringLiteral("CDCFOP"));
         },
         // The new group's texts follow the field picked for it.
         [](ReportLayout &l) { l.groups.push_back({"CDCFOP", "{CDCFOP}", "Total de {CDCFOP}", ""}); }},
        {"add a group and make it the outermost",
         [](LayoutEditor &e) {
             e.Button("groupAdd")->click();
             e.Button("groupUp")->click();
         },
         [](ReportLayout &l) {
             l.groups.insert(l.groups.begin(), {"DSENTRSAIDA", "{DSENTRSAIDA}", "Total de {DSENTRSAIDA}", ""});
         }},
        {"change a group's footer",
         [](LayoutEditor &e) { e.GroupTable()->item(0, LayoutEditor::GroupFooter)->setText(QStringLiteral("Subtotal")); },
         [](ReportLayout &l) { l.groups[0].footer = "Subtotal"; }},
        {"change a group's export title",
         [](LayoutEditor &e) { e.GroupTable()->item(0, LayoutEditor::GroupCaption)->setText(QStringLiteral("Operação")); },
         [](ReportLayout &l) { l.groups[0].caption = "Operação"; }},
        {"remove the group",
         [](LayoutEditor &e) {
             e.GroupTable()->selectRow(0);
             e.Button("groupRemove")->click();
         },
         [](ReportLayout &l) { l.groups.clear(); }},
        {"switch to landscape", [](LayoutEditor &e) { e.LandscapeButton()->click(); },
         [](ReportLayout &l) { l.landscape = true; }},
        {"letter paper", [](LayoutEditor &e) { Pick(e.PageSizeBox(), QStringLiteral("Carta (216 × 279 mm)")); },
         [](ReportLayout &l) { l.page = "Letter"; }},
    };
    return edits;
}

TEST(LayoutEditorTest, EachEditLandsInTheLayoutGivenBack)
{
    for (const Edit &edit : Edits()) {
        SCOPED_TRACE(edit.what);
        LayoutEditor editor(Request());
        std::vector<QString> errors;
        editor.SetErrorSink([&](const QString &text) { errors.push_back(text); });
        edit.act(editor);
        ReportLayout expected = Sample();
        edit.expected(expected);
        EXPECT_EQ(editor.Layout(), expected);
        editor.accept();
        EXPECT_TRUE(errors.empty()) << errors.front().toStdString();
        ASSERT_TRUE(editor.Result().has_value());
        EXPECT_EQ(*editor.Result(), expected);
        // What is saved reads back the same.
        EXPECT_EQ(ParseLayout(SerializeLayout(*editor.Result())), expected);
    }
}

TEST(LayoutEditorTest, EditsAddUpAndTheTableFollowsAMove)
{
    LayoutEditor editor(Request());
    editor.SetErrorSink([](const QString &text) { ADD_FAILURE() << text.toStdString(); });
    ReportLayout expected = Sample();
    for (const Edit &edit : Edits()) {
        const std::string what = edit.what;
        if (what.find("remove") != std::string::npos || what.find("outermost") != std::string::npos)
            continue;  // they take rows the other edits name
        edit.act(editor);
        edit.expected(expected);
    }
    EXPECT_EQ(editor.Layout(), expected);
    // The table shows the layout's order, captions and widths after the moves.
    for (int row = 0; row < editor.ColumnTable()->rowCount(); ++row) {
        const LayoutColumn &c = expected.columns[static_cast<std::size_t>(row)];
        EXPECT_EQ(editor.ColumnTable()->item(row, Cell::ColCaption)->text().toStdString(), c.caption);
        EXPECT_EQ(CellWidget<QDoubleSpinBox>(editor.ColumnTable(), row, Cell::ColWidth)->value(), c.width);
    }
    editor.accept();
    ASSERT_TRUE(editor.Result().has_value());
    EXPECT_EQ(*editor.Result(), expected);
}

TEST(LayoutEditorTest, ALayoutThatCannotBeUsedIsRefusedAndNothingGivenBack)
{
    ReportLayout unknownGroup = Sample();
    unknownGroup.groups[0].field = "NAOEXISTE";
    struct Case {
        const char *what;
        ReportLayout start;
        std::function<void(LayoutEditor &)> act;
        std::string named;  // a word the message must name ("" for none)
    } cases[] = {
        {"every column hidden", Sample(),
         [](LayoutEditor &e) {
             for (int row = 0; row < e.ColumnTable()->rowCount(); ++row)
                 e.ColumnTable()->item(row, Cell::ColShow)->setCheckState(Qt::Unchecked);
         },
         ""},
        {"a group on a field the statement lacks", unknownGroup, [](LayoutEditor &) {}, "NAOEXISTE"},
        {"a header naming a field the statement lacks", Sample(),
         [](LayoutEditor &e) { e.GroupTable()->item(0, LayoutEditor::GroupHeader)->setText(QStringLiteral("{NMTIPO}")); },
         "NMTIPO"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        LayoutEditor editor(Request(c.start));
        std::vector<QString> errors;
        editor.SetErrorSink([&](const QString &text) { errors.push_back(text); });
        c.act(editor);
        ASSERT_TRUE(editor.Problem().has_value());
        editor.accept();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_TRUE(errors[0].startsWith(QStringLiteral("O layout não pode ser usado e não foi salvo.")));
        if (!c.named.empty()) {
            EXPECT_TRUE(errors[0].contains(QString::fromStdString(c.named))) << errors[0].toStdString();
        }
        EXPECT_FALSE(editor.Result().has_value());
        EXPECT_NE(editor.result(), QDialog::Accepted);
    }
}

TEST(LayoutEditorTest, CancelGivesNothingBackAndAsksBeforeThrowingChangesAway)
{
    struct Case {
        const char *what;
        bool change;
        std::optional<bool> answer;  // to the question; none: not asked
        bool closes;
    } cases[] = {
        {"nothing changed", false, std::nullopt, true},
        {"changed, the person keeps editing", true, false, false},
        {"changed, the person discards", true, true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        LayoutEditor editor(Request());
        editor.show();
        std::vector<QString> asked;
        editor.SetQuestionSink([&](const QString &q) {
            asked.push_back(q);
            return c.answer.value_or(true);
        });
        if (c.change)
            editor.LandscapeButton()->click();
        QTest::keyClick(&editor, Qt::Key_Escape);
        EXPECT_EQ(asked.size(), c.answer ? 1u : 0u);
        EXPECT_EQ(editor.isVisible(), !c.closes);
        EXPECT_FALSE(editor.Result().has_value());
        if (!c.closes) {
            EXPECT_TRUE(editor.Layout().landscape);  // the edit is still there
        }
    }
}

TEST(LayoutEditorTest, AnEditedReportGoesBackToItsDeliveredLayout)
{
    LayoutEditor plain(Request());
    EXPECT_EQ(plain.Button("restore"), nullptr);  // delivered as it is: nothing to go back to

    ReportLayout edited = Sample();
    edited.landscape = true;
    edited.columns.pop_back();
    LayoutEditRequest request = Request(edited);
    request.original = Sample();
    LayoutEditor editor(request);
    ASSERT_NE(editor.Button("restore"), nullptr);
    EXPECT_EQ(editor.Button("restore")->text(), QStringLiteral("&Restaurar o layout original"));
    ASSERT_NE(editor.findChild<QLabel *>(QStringLiteral("editedNote")), nullptr);
    editor.Button("restore")->click();
    EXPECT_EQ(editor.Layout(), Sample());
    EXPECT_EQ(editor.ColumnTable()->rowCount(), static_cast<int>(Sample().columns.size()));
    EXPECT_TRUE(editor.PortraitButton()->isChecked());
    editor.accept();
    ASSERT_TRUE(editor.Result().has_value());
    EXPECT_EQ(*editor.Result(), Sample());
}

// Result columns in the report's words wherever the person picks one.
TEST(LayoutEditorTest, FieldsAreNamedInTheReportsWords)
{
    struct Case {
        const char *field, *words;
    } cases[] = {
        {"CDCFOP", "CFOP"},                            // a column's title
        {"IDENTRSAIDA", "Entrada/Saída"},              // a group's title
        {"DSENTRSAIDA", "Descrição de entrada/saída"}, // from the parts of its name
        {"QTITENS", "QTITENS"},                        // nothing known: as it is
    };
    LayoutEditor editor(Request());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.field);
        EXPECT_EQ(editor.FieldLabel(c.field), QString::fromUtf8(c.words));
    }
    auto *group = CellWidget<QComboBox>(editor.GroupTable(), 0, LayoutEditor::GroupField);
    EXPECT_EQ(group->currentText(), QStringLiteral("Entrada/Saída"));
    EXPECT_EQ(group->currentData().toString(), QStringLiteral("IDENTRSAIDA"));
    EXPECT_EQ(group->findText(QStringLiteral("IDENTRSAIDA")), -1);
}

TEST(LayoutEditorTest, TheFirstPageIsLargeEnoughToReadAndZooms)
{
    QTemporaryDir dir;
    const QString page = WriteTestPdf(dir, QStringLiteral("primeira.pdf"), 1, true);
    LayoutEditRequest request = Request();
    request.previewFirstPage = [&](const ReportLayout &) { return page.toStdString(); };
    LayoutEditor editor(request);
    editor.resize(1300, 700);
    editor.show();
    editor.RefreshPreview();
    QApplication::processEvents();
    EXPECT_GE(editor.PreviewView()->width(), editor.width() * 4 / 10);
    EXPECT_EQ(editor.PreviewView()->zoomMode(), QPdfView::ZoomMode::FitToWidth);
    editor.Button("zoomIn")->click();
    EXPECT_EQ(editor.PreviewView()->zoomMode(), QPdfView::ZoomMode::Custom);
    const qreal zoomed = editor.PreviewView()->zoomFactor();
    editor.Button("zoomOut")->click();
    EXPECT_LT(editor.PreviewView()->zoomFactor(), zoomed);
    editor.Button("fitWidth")->click();
    EXPECT_EQ(editor.PreviewView()->zoomMode(), QPdfView::ZoomMode::FitToWidth);
}

// Answers the editor the host opens modally, once its loop runs.
void WhenTheEditorOpens(const std::function<void(LayoutEditor &)> &answer)
{
    QTimer::singleShot(0, [answer] {
        auto *editor = dynamic_cast<LayoutEditor *>(QApplication::activeModalWidget());
        ASSERT_NE(editor, nullptr);
        answer(*editor);
    });
}

TEST(LayoutEditorTest, TheHostGivesTheEditedLayoutOnOkAndNothingOnCancel)
{
    QtReportUi ui;
    WhenTheEditorOpens([](LayoutEditor &e) {
        e.LandscapeButton()->click();
        e.accept();
    });
    std::optional<ReportLayout> edited = ui.EditLayout(Request());
    ASSERT_TRUE(edited.has_value());
    EXPECT_TRUE(edited->landscape);

    WhenTheEditorOpens([](LayoutEditor &e) {
        e.LandscapeButton()->click();
        e.SetQuestionSink([](const QString &) { return true; });
        e.reject();
    });
    EXPECT_FALSE(ui.EditLayout(Request()).has_value());
}

TEST(LayoutEditorTest, TheFirstPageShowsAtOnceAndAgainOnRequest)
{
    QTemporaryDir dir;
    const QString page = WriteTestPdf(dir, QStringLiteral("primeira.pdf"), 1, true);
    std::vector<ReportLayout> asked;
    std::string failure;
    LayoutEditRequest request = Request();
    request.previewFirstPage = [&](const ReportLayout &layout) {
        asked.push_back(layout);
        if (!failure.empty())
            throw LayoutError(failure);
        return page.toStdString();
    };
    LayoutEditor editor(request);
    QApplication::processEvents();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], Sample());
    EXPECT_EQ(editor.PreviewDocument()->pageCount(), 1);
    EXPECT_EQ(editor.PreviewStatus(), QStringLiteral("Primeira página com o layout atual."));

    editor.LandscapeButton()->click();
    EXPECT_TRUE(editor.PreviewStatus().startsWith(QStringLiteral("O layout mudou")));
    EXPECT_EQ(asked.size(), 1u);  // only on request
    editor.Button("refresh")->click();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_TRUE(asked[1].landscape);

    failure = "A coluna 'Total' não tem campo.";
    editor.RefreshPreview();
    EXPECT_EQ(editor.PreviewStatus(),
              QStringLiteral("Não foi possível mostrar a primeira página: A coluna 'Total' não tem campo."));

    // A layout that cannot be used is not sent to the report at all.
    for (int row = 0; row < editor.ColumnTable()->rowCount(); ++row)
        editor.ColumnTable()->item(row, Cell::ColShow)->setCheckState(Qt::Unchecked);
    editor.RefreshPreview();
    EXPECT_EQ(asked.size(), 3u);
    EXPECT_TRUE(editor.PreviewStatus().startsWith(QStringLiteral("O layout ainda não pode ser usado")));
}

TEST(LayoutEditorTest, ButtonsOnlyOfferWhatTheSelectionAllows)
{
    LayoutEditor editor(Request());
    editor.ColumnTable()->selectRow(0);
    EXPECT_FALSE(editor.Button("columnUp")->isEnabled());
    EXPECT_TRUE(editor.Button("columnDown")->isEnabled());
    editor.ColumnTable()->selectRow(3);
    EXPECT_TRUE(editor.Button("columnUp")->isEnabled());
    EXPECT_FALSE(editor.Button("columnDown")->isEnabled());

    LayoutEditRequest noFields = Request();
    noFields.fields.clear();
    LayoutEditor blind(noFields);
    EXPECT_FALSE(blind.Button("groupAdd")->isEnabled());
    EXPECT_FALSE(blind.Button("columnAdd")->isEnabled());
    EXPECT_FALSE(blind.Button("refresh")->isEnabled());
}

// On an 800×600 desktop (the offscreen one) the whole editor shows, its
// buttons too; it opens on the first column's title; Enter there never
// closes it through OK; fields show in the report's words.
TEST(LayoutEditorDesktopTest, FitsSmallScreensStartsOnTheFirstFieldAndSpeaksInCaptions)
{
    LayoutEditor editor(Request());
    editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
    Settle();
    const QRect room = editor.screen()->availableGeometry();
    ASSERT_LE(room.width(), 1024) << "the test wants a small screen";
    EXPECT_TRUE(room.contains(editor.geometry())) << editor.width() << "x" << editor.height();
    auto *box = editor.findChild<QDialogButtonBox *>();
    ASSERT_NE(box, nullptr);
    for (QAbstractButton *b : box->buttons())
        EXPECT_TRUE(room.contains(QRect(b->mapToGlobal(QPoint(0, 0)), b->size()))) << b->text().toStdString();

    EXPECT_EQ(QApplication::focusWidget(), editor.ColumnTable());
    EXPECT_EQ(editor.ColumnTable()->currentColumn(), static_cast<int>(Cell::ColCaption));
    QTest::keyClick(editor.ColumnTable(), Qt::Key_Down);
    QTest::keyClick(editor.ColumnTable(), Qt::Key_Return);
    Settle();
    EXPECT_TRUE(editor.isVisible()) << "Enter closed the editor";
    EXPECT_FALSE(editor.Result().has_value());

    // Templates and fields in words; the names only in tooltips.
    QTableWidgetItem *header = editor.GroupTable()->item(0, LayoutEditor::GroupHeader);
    EXPECT_EQ(header->text(), QStringLiteral("{Descrição de entrada/saída}"));
    EXPECT_EQ(header->toolTip(), QStringLiteral("{DSENTRSAIDA}"));
    header->setText(QStringLiteral("Operações: {descrição de entrada/saída}"));
    EXPECT_EQ(editor.Layout().groups[0].header, "Operações: {DSENTRSAIDA}");
    for (int row = 0; row < editor.ColumnTable()->rowCount(); ++row) {
        const QString field = editor.ColumnTable()->item(row, Cell::ColField)->text();
        const QString name = QString::fromStdString(Sample().columns[static_cast<std::size_t>(row)].field);
        EXPECT_NE(field, name);
        EXPECT_TRUE(editor.ColumnTable()->item(row, Cell::ColField)->toolTip().contains(name));
    }
    EXPECT_EQ(editor.FieldLabel("VLISENTO"), QStringLiteral("Isentas"));
    EXPECT_EQ(editor.FieldLabel("VLBASEST"), QStringLiteral("Base ST"));
    editor.SetQuestionSink([](const QString &) { return true; });
    editor.reject();
}

} // namespace
