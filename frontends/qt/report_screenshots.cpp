#include "report_screenshots.h"

#include "qt_reportui.h"
#include "qtwidgetset.h"
#include "screenshots.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <QApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QTimer>


namespace {

void Fill(QtWidgetSet &ws, const char *field, const char *text)
{
    if (auto *edit = dynamic_cast<TCustomEdit *>(ScreenControl(field)))
        ws.Run([edit, text] {
            edit->SetFocus();
            edit->SelectAll();
            edit->Paste(text);
        });
}

// Saves a picture of `target` (the window the person looks at, without the
// empty display around it), closes the dialogs, quits.
void Shoot(QWidget *target, const QString &file, int *rc)
{
    QApplication::processEvents();
    FinishScreenshot(target ? target->grab() : QPixmap(), file, rc);
}

} // namespace

bool IsReportScreenshotView(const QString &view)
{
    return view == "preview" || view == "editor" || view == "prompt";
}

void ScheduleReportScreenshot(QMainWindow &window, const QString &view, const QString &file, int *rc)
{
    auto *ws = dynamic_cast<QtWidgetSet *>(&WidgetSet());
    QTimer::singleShot(300, &window, [&window, ws, view, file, rc] {
        // The report chosen by title in FISHOST_SHOT_REPORT, else the first.
        const QByteArray wanted = qgetenv("FISHOST_SHOT_REPORT");
        if (!wanted.isEmpty())
            PickReport(*ws, wanted.toStdString());
        Fill(*ws, "medCdImposto", "01");
        Fill(*ws, "medCdEmpresa", "01");
        Fill(*ws, "depDtInicial", "01/01/2026");
        Fill(*ws, "depDtFinal", "31/12/2026");
        auto *button = ScreenControl(view == "preview" ? "sbtPreview" : view == "editor" ? "sbtReportEdit" : "sbtSalvarComo");
        if (!button) {
            *rc = 1;
            QTimer::singleShot(0, qApp, &QApplication::quit);
            return;
        }
        // The editor runs its own loop: the picture is taken from inside it,
        // once its first page is drawn. The preview is there when the action ends.
        if (view == "editor" || view == "prompt")
            QTimer::singleShot(1500, qApp, [file, rc] { Shoot(QApplication::activeModalWidget(), file, rc); });
        ws->Run([button] { button->Click(); });
        if (view == "preview") {
            // FISHOST_SHOT_FIND: a search in the pages, its match highlighted.
            const QString find = QString::fromUtf8(qgetenv("FISHOST_SHOT_FIND"));
            if (auto *ui = dynamic_cast<QtReportUi *>(&ReportUserInterface()); ui && ui->LastPreview() && !find.isEmpty()) {
                ReportPreview *preview = ui->LastPreview();
                QTimer::singleShot(700, preview, [preview, find] {
                    preview->ShowFind();
                    preview->FindBox()->setText(find);
                    preview->FindNext(find);
                });
            }
            QTimer::singleShot(1500, qApp, [&window, file, rc] { Shoot(&window, file, rc); });
        }
    });
}
