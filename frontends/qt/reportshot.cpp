// fisreport-shot: pictures of the report windows as the desktop host shows
// them, for the documentation and for looking at them without a person.
//   fisreport-shot preview REPORT.pdf OUT.png [--title T] [--page N]
//   fisreport-shot editor DEFINITION.json OUT.png [--first-page PAGE.pdf] [--tab N]
#include "qt_reportui.h"
#include "qticons.h"
#include "qtwidgetset.h"
#include "layout_editor.h"
#include "report/layout.h"
#include "report/reportdef.h"
#include "report_theme.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenuBar>
#include <QTabWidget>
#include <QTimer>

#include <fstream>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>

namespace {

void usage(std::ostream &out)
{
    out << "usage: fisreport-shot preview REPORT.pdf OUT.png [--title T] [--page N]\n"
           "       fisreport-shot editor DEFINITION.json OUT.png [--first-page PAGE.pdf] [--tab N]\n"
           "Shows the report preview in a main window, or the layout editor of a report\n"
           "definition, and saves a picture of it.\n";
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw Exception("cannot read " + path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every field the layout names, standing in for the statement's columns.
std::vector<std::string> FieldsOf(const ReportLayout &layout)
{
    std::set<std::string> fields;
    const std::regex name("[A-Za-z_][A-Za-z_0-9]*");
    const std::regex braced("\\{([A-Za-z_][A-Za-z_0-9]*)\\}");
    auto scan = [&](const std::string &text, const std::regex &re, int group) {
        for (std::sregex_iterator i(text.begin(), text.end(), re), end; i != end; ++i)
            fields.insert((*i)[group]);
    };
    for (const LayoutColumn &c : layout.columns) {
        if (!c.field.empty())
            fields.insert(c.field);
        scan(c.expression, name, 0);
    }
    for (const LayoutGroup &g : layout.groups) {
        fields.insert(g.field);
        scan(g.header, braced, 1);
        scan(g.footer, braced, 1);
    }
    return {fields.begin(), fields.end()};
}

bool Save(QWidget &w, const std::string &out)
{
    if (w.grab().save(QString::fromStdString(out)))
        return true;
    std::cerr << "fisreport-shot: could not write " << out << '\n';
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Fiscal"));
    UsePortugueseTexts();
    UseDesktopIconTheme();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() < 3 || (args[0] != "preview" && args[0] != "editor")) {
        usage(std::cerr);
        return 2;
    }
    std::string title = "Resumo não Oficial de CFOp";
    std::string firstPage;
    int page = 1;
    int tab = 0;
    for (std::size_t i = 3; i + 1 < args.size(); i += 2) {
        if (args[i] == "--title")
            title = args[i + 1];
        else if (args[i] == "--page")
            page = std::stoi(args[i + 1]);
        else if (args[i] == "--first-page")
            firstPage = args[i + 1];
        else if (args[i] == "--tab")
            tab = std::stoi(args[i + 1]);
    }
    const std::string &input = args[1];
    const std::string &out = args[2];
    int rc = 0;
    try {
        if (args[0] == "preview") {
            // The main window as the host has it, the preview inside.
            QMainWindow window;
            window.setWindowTitle(QStringLiteral("Fiscal"));
            window.menuBar()->addMenu(QStringLiteral("&Relatórios"));
            window.menuBar()->addMenu(QStringLiteral("&Janelas"));
            auto *area = new QMdiArea(&window);
            area->setBackground(QColor(0x6d, 0x7f, 0x95));
            window.setCentralWidget(area);
            window.resize(1100, 760);
            window.show();
            QtReportUi ui(&window, area);
            ui.Preview(input, title, [](const std::string &, const std::string &) {});
            ui.LastPreview()->GoToPage(page - 1);
            QTimer::singleShot(500, &window, [&] {
                rc = Save(window, out) ? 0 : 1;
                app.quit();
            });
            app.exec();
        } else {
            const ReportDefinition def = ParseReportDefinition(ReadFile(input), input);
            LayoutEditRequest request;
            request.title = def.title;
            request.layout = ParseLayout(def.layoutJson);
            request.fields = FieldsOf(request.layout);
            if (!firstPage.empty())
                request.previewFirstPage = [firstPage](const ReportLayout &) { return firstPage; };
            LayoutEditor editor(request);
            if (auto *tabs = editor.findChild<QTabWidget *>())
                tabs->setCurrentIndex(tab);
            editor.show();
            QTimer::singleShot(500, &editor, [&] {
                rc = Save(editor, out) ? 0 : 1;
                app.quit();
            });
            app.exec();
        }
    } catch (const std::exception &e) {
        std::cerr << "fisreport-shot: " << e.what() << '\n';
        return 1;
    }
    return rc;
}
