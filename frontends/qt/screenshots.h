#pragma once
// Pictures of the desktop host for people to look at: the screen, or the
// screen with one of its dialogs open (a pick list, the product tree with a
// search, the calendar, a message).
#include <QPixmap>
#include <QString>

#include <string>

class QMainWindow;
class TControl;

class QtWidgetSet;

// A control of the screen open in front, by name; nullptr when none.
TControl *ScreenControl(const char *name);
// Picks the report of that title in the screen's list, as a person would.
void PickReport(QtWidgetSet &ws, const std::string &title);

// Known views: "screen", "pick" (the company list), "taxes", "tree" (the
// product tree with a search), "types" and "models" (the tick lists),
// "calendar", "message"; and the report windows.
bool IsScreenshotView(const QString &view);
// Once the screen is open, shows `view`, saves the whole display to `file`
// and quits the application with `*rc` set to 0, or 1 when it could not.
void ScheduleScreenshot(QMainWindow &window, const QString &view, const QString &file, int *rc);
// Saves `shot` to `file` (`*rc` 0, or 1 with a line on stderr), closes the
// open dialogs and quits: the end of every picture.
void FinishScreenshot(const QPixmap &shot, const QString &file, int *rc);
