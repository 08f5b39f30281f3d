#pragma once
// The desktop widget set: one Qt widget per model control, mirroring it, and
// Qt dialogs for messages, pick lists and prompts. Every input a person gives
// is forwarded to the model through Run(); the widgets only show its state.
#include "vcl/widgetset.h"

#include <QColor>
#include <QFont>
#include <QKeySequence>
#include <QPointer>
#include <QString>

#include <functional>

class QCalendarWidget;
class QInputDialog;
class QMenu;
class QMdiArea;
class QWidget;
class TCustomForm;
class TWinControl;

class QtWidgetSet : public TWidgetSet {
public:
    // Forms become sub-windows of `area`; without one they are top-level windows.
    explicit QtWidgetSet(QMdiArea *area = nullptr);
    ~QtWidgetSet() override;

    std::unique_ptr<ControlPeer> CreatePeer(TControl &control) override;
    // Shows the message; the edit the person is sent back to afterwards has
    // its text selected, so what they type next replaces it.
    void ShowMessage(const std::string &text, MessageKind kind) final;
    bool Confirm(const std::string &question) override;  // in confirm.cpp
    std::optional<int> PickRow(const std::string &title, const PickTable &table) override;
    std::optional<int> PickTreeRow(const std::string &title, const PickTree &tree) override;
    std::optional<std::vector<int>> PickRows(const std::string &title, const PickTable &table,
                                             const std::vector<int> &marked) override;
    std::optional<std::string> PromptText(const std::string &caption, const std::string &prompt,
                                          const std::string &initial) override;
    void ShowBusy(bool on) override;
    // The desktop's PDF viewer; the configured print command (print_command).
    void ShowDocument(const std::string &path) override;
    void PrintDocument(const std::string &path) override;

    // Runs a person's action on the model, then brings every window back in
    // line with it (new controls get widgets, the focus follows the model).
    void Run(const std::function<void()> &action);
    // Re-reads every peer and the focus from the model.
    void Sync();

    QMdiArea *MdiArea() const { return area_; }
    // The widget showing `control`, nullptr when it has none.
    static QWidget *WidgetOf(const TControl &control);
    // Where children of `control` are placed.
    static QWidget *ContainerOf(const TControl &control);
    // The calendar popup of a date edit, once it has been opened.
    static QCalendarWidget *CalendarOf(const TControl &control);
    // The Alt+letter of the caption standing for `field`, empty when none.
    static QKeySequence AcceleratorOf(const TWinControl &field);
    // The periods' menu of a date edit (its right button), nullptr for others.
    static QMenu *PeriodMenuOf(const TControl &control);

    // Called by peers: a mouse click put the Qt focus on `control`. The model
    // hears of it before the next forwarded action, or once events settle.
    void FocusRequested(TWinControl &control);
    // Gives the Qt focus to the model's focused control of `form`.
    void FollowModelFocus(TCustomForm &form);
    bool SyncingFocus() const { return syncingFocus_; }
    // The mark drawn around the control that has the focus.
    QWidget *FocusMark() const;
    void SetMoveByTab(bool tab) { moveByTab_ = tab; }
    // Letters the host's own menus answer to with Alt; captions use others.
    void SetAcceleratorsTaken(const QString &letters) { acceleratorsTaken_ = letters; }
    // The title a list shows: the model's, or for a list it leaves untitled
    // ("Pesquisar") the caption of the field it fills.
    std::string ListTitle(const std::string &title) const;

protected:
    // The message box itself; tests answer it.
    virtual void ShowMessageBox(const std::string &text, MessageKind kind);

private:
    void FlushPendingFocus();
    void AttachMissingPeers(TControl &control);

    QMdiArea *area_;
    QPointer<QWidget> pendingFocus_;  // widget of the control clicked into
    QPointer<QWidget> ring_;          // the focus mark
    QPointer<QWidget> busy_;          // "please wait" while a long pick loads
    bool syncingFocus_ = false;
    bool moveByTab_ = false;
    bool running_ = false;
    bool messageShown_ = false;
    QString acceleratorsTaken_;
    int busyDepth_ = 0;
};

// Before the QApplication: dates, month names and Qt's own messages in
// Brazilian Portuguese whatever the machine's locale, numbers as they were
// (files and statements read and write them with a point).
void PreparePortugueseLocale();
// Qt's own texts (dialog buttons, the calendar, the file dialog) in
// Brazilian Portuguese, from the translations the system installs; once
// per application.
void UsePortugueseTexts();

// The text prompt as PromptText shows it: titled, its buttons in Portuguese,
// wide enough for its title and the text.
void ConfigurePrompt(QInputDialog &dialog, const std::string &caption, const std::string &prompt,
                     const std::string &initial);

// Model colours and fonts as Qt shows them.
QColor QtColor(int tcolor);
QFont QtFont(const std::string &name, int size, bool bold);
// Captions drop the single '&' that marks an accelerator; "&&" is a literal '&'.
QString QtCaption(const std::string &caption);
