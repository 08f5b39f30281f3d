#include "qtpeer.h"

#include "vcl/forms.h"

#include <QApplication>
#include <QFocusEvent>
#include <QTimer>

#include <algorithm>

namespace {
const char *const ControlProp = "fisControl";
}

QtWidgetSet *QtSet() { return dynamic_cast<QtWidgetSet *>(&WidgetSet()); }

TControl *ControlOf(const QWidget *w)
{
    if (!w)
        return nullptr;
    return reinterpret_cast<TControl *>(w->property(ControlProp).value<quintptr>());
}

bool EventHook::eventFilter(QObject *watched, QEvent *e) { return peer_ && peer_->Event(watched, e); }

QtPeer::QtPeer(TControl &control, QWidget *widget) : control_(control), widget_(widget)
{
    widget->setProperty(ControlProp, QVariant::fromValue(reinterpret_cast<quintptr>(&control)));
    widget->setObjectName(qs(control.Name()));
}

QtPeer::~QtPeer()
{
    for (auto &c : connections_)
        QObject::disconnect(c);
    for (auto &h : hooks_)
        if (h)
            h->Disarm();
    if (widget_)
        widget_->setProperty(ControlProp, QVariant());
    if (QWidget *top = Outer()) {
        top->hide();
        // Later: the peer may go while one of the widget's own events runs.
        top->deleteLater();
    }
}

std::optional<std::pair<TKey, TShiftState>> QtPeer::ModelKey(const QKeyEvent *ke)
{
    TShiftState shift = ssNone;
    if (ke->modifiers() & Qt::ShiftModifier) shift |= ssShift;
    if (ke->modifiers() & Qt::AltModifier) shift |= ssAlt;
    if (ke->modifiers() & Qt::ControlModifier) shift |= ssCtrl;
    TKey key;
    switch (ke->key()) {
    case Qt::Key_Tab: key = TKey::Tab; break;
    case Qt::Key_Backtab: key = TKey::Tab; shift |= ssShift; break;
    case Qt::Key_Return: case Qt::Key_Enter: key = TKey::Enter; break;
    case Qt::Key_Escape: key = TKey::Escape; break;
    case Qt::Key_Space: key = TKey::Space; break;
    case Qt::Key_Left: key = TKey::Left; break;
    case Qt::Key_Right: key = TKey::Right; break;
    case Qt::Key_Up: key = TKey::Up; break;
    case Qt::Key_Down: key = TKey::Down; break;
    case Qt::Key_Home: key = TKey::Home; break;
    case Qt::Key_End: key = TKey::End; break;
    case Qt::Key_Delete: key = TKey::Delete; break;
    case Qt::Key_Backspace: key = TKey::Backspace; break;
    case Qt::Key_A: key = TKey::A; break;
    case Qt::Key_F2: key = TKey::F2; break;
    case Qt::Key_F3: key = TKey::F3; break;
    case Qt::Key_F4: key = TKey::F4; break;
    default: return std::nullopt;
    }
    return std::make_pair(key, shift);
}

void QtPeer::SendKey(TKey key, TShiftState shift)
{
    auto *ws = QtSet();
    auto *self = dynamic_cast<TWinControl *>(&control_);
    if (!ws || !self)
        return;
    // Enter moves on as Tab does, and the widget hears it the same way.
    const bool tab = key == TKey::Tab || (key == TKey::Enter && shift == ssNone);
    if (tab)
        ws->SetMoveByTab(true);
    ws->Run([self, key, shift] {
        TCustomForm *form = self->GetParentForm();
        if (form && form->ActiveControl() == self)
            form->KeyDown(key, shift);
    });
    if (tab)
        ws->SetMoveByTab(false);
}

bool QtPeer::Event(QObject *watched, QEvent *e)
{
    if (watched != widget_ || !focusHooked_)
        return false;
    if (e->type() == QEvent::FocusIn)
        return FocusIn(static_cast<QFocusEvent *>(e));
    if (e->type() == QEvent::ShortcutOverride) {
        // Ctrl and Alt combinations are the window's shortcuts and
        // accelerators (Ctrl+E edits the layout, it is no end of line here),
        // except the editing keys the control itself hands to the model.
        auto *ke = static_cast<QKeyEvent *>(e);
        const bool own = ke->matches(QKeySequence::Copy) || ke->matches(QKeySequence::Paste) ||
                         ke->matches(QKeySequence::Cut) || ke->matches(QKeySequence::SelectAll);
        if ((ke->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) && !own) {
            ke->ignore();
            return true;
        }
        return false;
    }
    if (e->type() == QEvent::KeyPress) {
        if (auto key = ModelKey(static_cast<QKeyEvent *>(e))) {
            const auto [k, shift] = *key;
            bool lookup = (k == TKey::F2 && shift == ssNone) || (k == TKey::Down && shift == ssAlt);
            // Without a lookup of its own, Alt+Down is the control's: a combo box opens its list.
            TCustomForm *form = control_.GetParentForm();
            if (lookup && k == TKey::Down && form && !form->LookupFor(static_cast<TWinControl *>(&control_)))
                lookup = false;
            const bool next = k == TKey::Enter && shift == ssNone;
            if (k == TKey::Tab || next || lookup || WantsKey(k, shift)) {
                SendKey(k, shift);
                return true;
            }
        }
    }
    return Filter(e);
}

void QtPeer::Changed(ControlProperty what)
{
    if (!widget_)
        return;
    switch (what) {
    case ControlProperty::Bounds: SyncBounds(); break;
    case ControlProperty::Enabled: widget_->setEnabled(control_.Enabled()); break;
    case ControlProperty::Visible: Outer()->setVisible(control_.Visible()); break;
    case ControlProperty::Color: SyncColor(); break;
    case ControlProperty::Font: SyncFont(); break;
    case ControlProperty::Hint: widget_->setToolTip(qs(control_.Hint())); SyncOwn(what); break;
    case ControlProperty::Focus: SyncFocus(); break;
    default: SyncOwn(what); break;
    }
}

void QtPeer::SyncAll()
{
    for (auto p : {ControlProperty::Bounds, ControlProperty::Enabled, ControlProperty::Color, ControlProperty::Font,
                   ControlProperty::Hint, ControlProperty::Caption, ControlProperty::Text, ControlProperty::Items,
                   ControlProperty::ItemIndex, ControlProperty::Checked, ControlProperty::State,
                   ControlProperty::Visible})
        Changed(p);
}

void QtPeer::SyncBounds()
{
    widget_->setGeometry(control_.Left(), control_.Top(), control_.Width(), control_.Height());
}

void QtPeer::SyncFont()
{
    const TFont &f = control_.Font();
    widget_->setFont(QtFont(f.Name, f.Size, f.Bold));
    // The model's font colour, where it is not the system's.
    if (f.Color != clWindowText)
        SetRoleColor(QPalette::WindowText, f.Color);
}

void QtPeer::SyncFocus()
{
    auto *w = dynamic_cast<TWinControl *>(&control_);
    TCustomForm *form = control_.GetParentForm();
    if (w && form && form->ActiveControl() == w)
        if (auto *ws = QtSet())
            ws->FollowModelFocus(*form);
}

void QtPeer::SetRoleColor(QPalette::ColorRole role, TColor c)
{
    // The model's colour while the control can be used; a disabled one is
    // drawn as the desktop's style draws it, so nobody types into nothing.
    QPalette p = widget_->palette();
    const QPalette style = QApplication::palette(widget_);
    p.setColor(QPalette::Active, role, QtColor(c));
    p.setColor(QPalette::Inactive, role, QtColor(c));
    p.setColor(QPalette::Disabled, role, style.color(QPalette::Disabled, role));
    widget_->setPalette(p);
}

void QtPeer::HookFocus()
{
    widget_->setFocusPolicy(Qt::StrongFocus);
    focusHooked_ = true;
    Hook(widget_);
}

bool QtPeer::FocusIn(QFocusEvent *fe)
{
    auto *ws = QtSet();
    if (!ws || ws->SyncingFocus())
        return false;
    if (fe->reason() == Qt::MouseFocusReason) {
        ws->FocusRequested(static_cast<TWinControl &>(control_));
    } else if (TCustomForm *form = control_.GetParentForm()) {
        QTimer::singleShot(0, widget_, [form] {
            // Qt moved the focus on its own; the model decides where it is.
            // The host may have closed in between.
            QtWidgetSet *now = QtSet();
            if (!Application || !now)
                return;
            const auto &open = Application->Children();
            if (std::find(open.begin(), open.end(), form) != open.end())
                now->FollowModelFocus(*form);
        });
    }
    return false;
}
