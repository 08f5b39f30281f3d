#include "screenshots.h"

#include "pickdialogs.h"
#include "report_screenshots.h"
#include "qtwidgetset.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QTableWidget>
#include <QToolTip>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QScreen>
#include <QTimer>

#include <iostream>
#include <tuple>
#include <vector>

namespace {

void Press(TControl *control, int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    if (QWidget *w = control ? QtWidgetSet::WidgetOf(*control) : nullptr) {
        QKeyEvent press(QEvent::KeyPress, key, mods);
        QApplication::sendEvent(w, &press);
    }
}

// Saves the part of the display the windows cover, with whatever is open
// on it, closes the dialog, quits.
void Shoot(const QString &file, int *rc)
{
    QApplication::processEvents();
    QRect covered;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible())
            covered |= w->frameGeometry();
    QScreen *screen = QGuiApplication::primaryScreen();
    covered &= screen->geometry();
    FinishScreenshot(screen->grabWindow(0, covered.x(), covered.y(), covered.width(), covered.height()), file, rc);
}

} // namespace

void PickReport(QtWidgetSet &ws, const std::string &title)
{
    if (auto *reports = dynamic_cast<TComboBox *>(ScreenControl("cbbReportNames")))
        ws.Run([reports, title] {
            const auto &items = reports->Items();
            for (std::size_t i = 0; i < items.size(); ++i)
                if (items[i] == title)
                    reports->PickItem(static_cast<int>(i));
        });
}

TControl *ScreenControl(const char *name)
{
    TCustomForm *screen = Application ? Application->ActiveChild() : nullptr;
    return screen ? dynamic_cast<TControl *>(screen->FindComponent(name)) : nullptr;
}

void FinishScreenshot(const QPixmap &shot, const QString &file, int *rc)
{
    *rc = !shot.isNull() && shot.save(file) ? 0 : 1;
    if (*rc)
        std::cerr << "fishost-qt: could not write " << file.toStdString() << '\n';
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QDialog *>(w); d && d->isVisible())
            d->reject();
    QTimer::singleShot(0, qApp, &QApplication::quit);
}

bool IsScreenshotView(const QString &view)
{
    static const QStringList views = {"screen", "pick", "taxes",    "tree",    "types",  "models",
                                      "ticked", "reports", "calendar", "message", "import", "company", "efd"};
    return views.contains(view) || IsReportScreenshotView(view);
}

void ScheduleScreenshot(QMainWindow &window, const QString &view, const QString &file, int *rc)
{
    if (IsReportScreenshotView(view))
        return ScheduleReportScreenshot(window, view, file, rc);
    auto *ws = dynamic_cast<QtWidgetSet *>(&WidgetSet());
    if (view == "efd") {
        // The check of FISHOST_SHOT_EFD from its menu entry; the picture once
        // its report is in the preview.
        QTimer::singleShot(300, &window, [&window, file, rc] {
            QTimer::singleShot(6000, qApp, [file, rc] { Shoot(file, rc); });
            for (QAction *action : window.findChildren<QAction *>())
                if (action->text().startsWith(QStringLiteral("Conferir com a EFD")))
                    action->trigger();
        });
        return;
    }
    // Let the windows lay out and paint once before acting and taking the picture.
    QTimer::singleShot(300, &window, [&window, ws, view, file, rc] {
        // A dialog runs its own loop: the picture is taken from inside it.
        QTimer::singleShot(view == "tree" ? 900 : 400, qApp, [view, file, rc] {
            if (view == "tree")
                for (QWidget *w : QApplication::topLevelWidgets())
                    if (auto *d = dynamic_cast<PickTreeDialog *>(w)) {
                        d->Search()->setText(QStringLiteral("guarana"));
                        d->FindNext(true);
                    }
            QTimer::singleShot(200, qApp, [file, rc] { Shoot(file, rc); });
        });
        if (view == "pick" || view == "taxes") {
            const char *field = view == "pick" ? "medCdEmpresa" : "medCdImposto";
            if (auto *edit = dynamic_cast<TWinControl *>(ScreenControl(field)))
                ws->Run([edit] { edit->SetFocus(); });
            Press(ScreenControl(field), Qt::Key_F2);
        } else if (view == "types" || view == "models") {
            // "Lista" checked, then its button: the list of codes to tick.
            const bool types = view == "types";
            PickReport(*ws, "Relação de Notas Fiscais");
            auto *list = dynamic_cast<TWinControl *>(ScreenControl(types ? "rdbListaTp" : "rdbListaMod"));
            auto *button = ScreenControl(types ? "btnTpOperacao" : "btnModDoc");
            if (list && button) {
                ws->Run([list] {
                    list->SetFocus();
                    list->Click();
                });
                ws->Run([button] { button->Click(); });
            }
        } else if (view == "ticked") {
            // Both lists answered as a person would: a few rows ticked, then OK;
            // the hint of the models' "Lista" shown.
            PickReport(*ws, "Relação de Notas Fiscais");
            for (auto [radio, button, rows] : {std::tuple{"rdbListaTp", "btnTpOperacao", std::vector<int>{0, 3, 4}},
                                               std::tuple{"rdbListaMod", "btnModDoc", std::vector<int>{0, 1}}}) {
                auto *list = dynamic_cast<TWinControl *>(ScreenControl(radio));
                TControl *pick = ScreenControl(button);
                if (!list || !pick)
                    continue;
                ws->Run([list] {
                    list->SetFocus();
                    list->Click();
                });
                QTimer::singleShot(100, qApp, [rows] {
                    for (QWidget *w : QApplication::topLevelWidgets())
                        if (auto *d = dynamic_cast<PickRowsDialog *>(w); d && d->isVisible()) {
                            for (int row : rows)
                                if (row < d->Table()->rowCount())
                                    d->Table()->item(row, 0)->setCheckState(Qt::Checked);
                            d->accept();
                        }
                });
                ws->Run([pick] { pick->Click(); });
            }
            if (TControl *models = ScreenControl("rdbListaMod"))
                if (QWidget *w = QtWidgetSet::WidgetOf(*models))
                    QToolTip::showText(w->mapToGlobal(w->rect().bottomLeft()), w->toolTip(), w);
        } else if (view == "reports") {
            // The list open: an edited report is marked, its title as delivered.
            if (auto *reports = ScreenControl("cbbReportNames"))
                if (auto *box = qobject_cast<QComboBox *>(QtWidgetSet::WidgetOf(*reports)))
                    box->showPopup();
        } else if (view == "tree") {
            PickReport(*ws, "Relação de Notas Fiscais");
            if (auto *code = dynamic_cast<TWinControl *>(ScreenControl("medProdInic")))
                ws->Run([code] { code->SetFocus(); });
            Press(ScreenControl("medProdInic"), Qt::Key_F2);
        } else if (view == "calendar") {
            if (auto *date = dynamic_cast<TCustomEdit *>(ScreenControl("depDtInicial")))
                ws->Run([date] {
                    date->SetFocus();
                    date->SelectAll();
                    date->Paste("15/01/2026");
                });
            Press(ScreenControl("depDtInicial"), Qt::Key_F4);
        } else if (view == "import" || view == "company") {
            // The window from its menu entry, as a person opens it.
            const QString entry = view == "import" ? QStringLiteral("Importar notas fiscais") : QStringLiteral("&Empresas");
            for (QAction *action : window.findChildren<QAction *>())
                if (action->text().startsWith(entry))
                    action->trigger();
        } else if (view == "message") {
            if (auto *tax = dynamic_cast<TCustomEdit *>(ScreenControl("medCdImposto")))
                ws->Run([tax] {
                    tax->SetFocus();
                    tax->SelectAll();
                    tax->TypeKey(U'9');
                    tax->TypeKey(U'9');
                });
            Press(ScreenControl("medCdImposto"), Qt::Key_Tab);
        }
    });
}
