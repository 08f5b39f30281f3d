#pragma once
// Pictures of the report windows as a person reaches them from the screen:
// the fields filled, then Visualizar (the preview in the main window) or
// Editar relatório (the layout editor).
#include <QString>

class QMainWindow;

// "preview", "editor" or "prompt" (the save-as title).
bool IsReportScreenshotView(const QString &view);
// Once the screen is open: fills it, runs the action, saves the display to
// `file` and quits the application with `*rc` set to 0, or 1 when it could not.
void ScheduleReportScreenshot(QMainWindow &window, const QString &view, const QString &file, int *rc);
