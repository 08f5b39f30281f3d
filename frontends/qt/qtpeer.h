#pragma once
// Private to the desktop widget set: the base of every peer, and the
// factories of each control family (one file per family).
#include "qtwidgetset.h"
#include "vcl/controls.h"

#include <QKeyEvent>
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QFocusEvent;
class QtPeer;
class TCustomForm;
class TWinControl;

inline QString qs(const std::string &s) { return QString::fromStdString(s); }
// The installed desktop widget set, nullptr when another one is installed.
QtWidgetSet *QtSet();
// The model control a widget shows.
TControl *ControlOf(const QWidget *w);

// Routes a widget's events to its peer while the peer lives; the widget may
// outlive the peer by a little (it is deleted later).
class EventHook : public QObject {
public:
    EventHook(QWidget *w, QtPeer *peer) : QObject(w), peer_(peer) { w->installEventFilter(this); }
    bool eventFilter(QObject *watched, QEvent *e) override;
    void Disarm() { peer_ = nullptr; }

private:
    QtPeer *peer_;
};

class QtPeer : public ControlPeer {
public:
    QtPeer(TControl &control, QWidget *widget);
    ~QtPeer() override;

    // An event of a hooked widget; true swallows it.
    virtual bool Event(QObject *watched, QEvent *e);

    QWidget *Widget() const { return widget_; }
    // Where the children's widgets go.
    virtual QWidget *Container() const { return widget_; }
    TControl &Control() const { return control_; }

    void Changed(ControlProperty what) override;
    void SyncAll();

protected:
    virtual void SyncBounds();
    virtual void SyncColor() {}
    virtual void SyncFont();
    virtual void SyncOwn(ControlProperty) {}
    virtual void SyncFocus();

    void SetRoleColor(QPalette::ColorRole role, TColor c);

    // Tab keys and mouse focus go to the model for every control that takes the focus.
    void HookFocus();
    void Hook(QWidget *w) { hooks_.push_back(new EventHook(w, this)); }
    // More events of a control that takes the focus.
    virtual bool Filter(QEvent *) { return false; }
    // Keys this family hands to the model beyond Tab and the lookup key.
    virtual bool WantsKey(TKey, TShiftState) const { return false; }
    // A key press as the model names it, when it names it.
    static std::optional<std::pair<TKey, TShiftState>> ModelKey(const QKeyEvent *ke);
    // Sends a key to the form, while the model agrees this control has the focus.
    void SendKey(TKey key, TShiftState shift);

    bool FocusIn(QFocusEvent *fe);

    template <class S, class Signal, class F>
    void Connect(S *sender, Signal signal, F f)
    {
        connections_.push_back(QObject::connect(sender, signal, f));
    }

    // Forwards a person's action on this control to the model.
    template <class F>
    void Forward(F f)
    {
        if (auto *ws = QtSet())
            ws->Run(f);
    }

    QWidget *Outer() const { return outer_ ? outer_.data() : widget_.data(); }

    TControl &control_;
    QPointer<QWidget> widget_;
    QPointer<QWidget> outer_;  // the window frame around a form's client area
    std::vector<QPointer<EventHook>> hooks_;
    std::vector<QMetaObject::Connection> connections_;
    bool focusHooked_ = false;
};

// Alt+letter on the captions of `form`, each for the edit or list on its
// right; letters in `taken` (the main window's menus) are left alone.
void AssignAccelerators(TCustomForm &form, const QString &taken);

// The caption standing for `field` (the label on its left), "" when none.
QString CaptionOf(const TWinControl &field);

// One factory per control family; `parent` is where the widget goes (none
// for a form, which goes into the widget set's MDI area).
using PeerFactory = std::unique_ptr<QtPeer> (*)(TControl &control, QWidget *parent, QtWidgetSet &ws);

std::unique_ptr<QtPeer> MakeFormPeer(TControl &, QWidget *, QtWidgetSet &);
std::unique_ptr<QtPeer> MakeLabelPeer(TControl &, QWidget *, QtWidgetSet &);
std::unique_ptr<QtPeer> MakeBevelPeer(TControl &, QWidget *, QtWidgetSet &);
std::unique_ptr<QtPeer> MakePanelPeer(TControl &, QWidget *, QtWidgetSet &);
std::unique_ptr<QtPeer> MakeGroupBoxPeer(TControl &, QWidget *, QtWidgetSet &);
std::unique_ptr<QtPeer> MakeToolButtonPeer(TControl &, QWidget *, QtWidgetSet &);
std::unique_ptr<QtPeer> MakeButtonPeer(TControl &, QWidget *, QtWidgetSet &);
std::unique_ptr<QtPeer> MakeRadioPeer(TControl &, QWidget *, QtWidgetSet &);
std::unique_ptr<QtPeer> MakeComboPeer(TControl &, QWidget *, QtWidgetSet &);
std::unique_ptr<QtPeer> MakeEditPeer(TControl &, QWidget *, QtWidgetSet &);
std::unique_ptr<QtPeer> MakeDateEditPeer(TControl &, QWidget *, QtWidgetSet &);
