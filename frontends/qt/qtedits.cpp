// Edits: the model owns text, caret and selection; the line edit shows them
// and hands every key, paste, click and drag to the model.
#include "qtpeer.h"

#include "date_periods.h"
#include "pickdialogs.h"
#include "qticons.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"
#include "vdl/DateEditPlus.h"

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QClipboard>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>

#include <algorithm>
#include <vector>

#include <utility>

namespace {

class EditPeer : public QtPeer {
public:
    EditPeer(TCustomEdit &c, QWidget *parent) : QtPeer(c, new QLineEdit(parent)), edit_(c)
    {
        auto *e = line();
        // Text only ever changes through the model.
        e->setContextMenuPolicy(Qt::NoContextMenu);
        e->setDragEnabled(false);
        e->setAcceptDrops(false);
        e->setFrame(true);
        HookFocus();
        Connect(e, &QLineEdit::selectionChanged, [this] { SelectionMoved(); });
        Connect(e, &QLineEdit::cursorPositionChanged, [this] { SelectionMoved(); });
    }

protected:
    QLineEdit *line() const { return static_cast<QLineEdit *>(widget_.data()); }

    bool Event(QObject *watched, QEvent *e) override
    {
        // A click that brings the focus in from elsewhere selects the whole
        // text, as Tab does: a full date clicked past its end would
        // otherwise drop every key typed after it.
        if (watched == widget_ && e->type() == QEvent::FocusIn &&
            static_cast<QFocusEvent *>(e)->reason() == Qt::MouseFocusReason && !HasModelFocus())
            enteringClick_ = true;
        else if (watched == widget_ && e->type() == QEvent::FocusOut)
            enteringClick_ = false;
        return QtPeer::Event(watched, e);
    }

    void SyncColor() override
    {
        SetRoleColor(QPalette::Base, edit_.Color());
        // A name display is disabled only so that nobody types in it: its
        // text stays as readable as any other.
        if (edit_.Color() == clBtnFace) {
            QPalette p = widget_->palette();
            p.setColor(QPalette::Disabled, QPalette::Text, p.color(QPalette::Active, QPalette::Text));
            p.setColor(QPalette::Disabled, QPalette::Base, QtColor(clBtnFace));
            widget_->setPalette(p);
        }
    }
    void SyncOwn(ControlProperty what) override
    {
        if (what == ControlProperty::Text || what == ControlProperty::Selection)
            Show();
    }
    void SyncFocus() override
    {
        QtPeer::SyncFocus();
        Show();  // the selection shows with the focus only
    }

    bool HasModelFocus() const
    {
        TCustomForm *form = edit_.GetParentForm();
        return form && form->ActiveControl() == &edit_;
    }

    // Shows the model's text, caret and selection; the selection only while
    // the edit has the focus, or several fields would look selected at once.
    virtual void Show()
    {
        syncing_ = true;
        const QString shown = qs(edit_.DisplayText());
        if (line()->text() != shown)
            line()->setText(shown);
        const int caret = edit_.CaretPos();
        if (edit_.SelLength() > 0 && HasModelFocus()) {
            const int anchor = caret == edit_.SelStart() ? caret + edit_.SelLength() : edit_.SelStart();
            line()->setSelection(anchor, caret - anchor);
        } else {
            line()->setCursorPosition(caret);
        }
        syncing_ = false;
    }

    bool WantsKey(TKey key, TShiftState shift) const override
    {
        switch (key) {
        case TKey::Left: case TKey::Right: case TKey::Home: case TKey::End:
            return (shift & ~ssShift) == 0;
        case TKey::Delete: case TKey::Backspace:
            return shift == ssNone;
        case TKey::A:
            return shift == ssCtrl;
        default:
            return false;
        }
    }

    bool Filter(QEvent *ev) override
    {
        switch (ev->type()) {
        case QEvent::KeyPress: {
            auto *ke = static_cast<QKeyEvent *>(ev);
            if (ke->matches(QKeySequence::Copy))
                return false;  // the selection shown is the model's
            if (ke->matches(QKeySequence::Paste)) {
                Paste(QApplication::clipboard()->text());
                return true;
            }
            if (ke->matches(QKeySequence::Cut)) {
                if (line()->hasSelectedText())
                    QApplication::clipboard()->setText(line()->selectedText());
                SendKey(TKey::Delete, ssNone);
                return true;
            }
            switch (ke->key()) {
            case Qt::Key_Return: case Qt::Key_Enter: case Qt::Key_Escape:
                return false;  // belongs to the window
            default:
                break;
            }
            const Qt::KeyboardModifiers mods = ke->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
            if (mods == Qt::NoModifier && !ke->text().isEmpty())
                TypeText(ke->text());
            return true;  // nothing else may edit behind the model
        }
        case QEvent::InputMethod:
            TypeText(static_cast<QInputMethodEvent *>(ev)->commitString());
            return true;
        case QEvent::Drop:
            return true;
        case QEvent::MouseButtonRelease:
            if (std::exchange(enteringClick_, false)) {
                if (line()->hasSelectedText())
                    SelectionMoved();  // dragged over part of it: that part
                else
                    OnModel([](TCustomEdit &e) { e.EnteredByKeyboard(); });
            }
            return false;
        default:
            return false;
        }
    }

    // Runs `f` on the model's edit, only while the model agrees it has the focus.
    template <class F>
    void OnModel(F f)
    {
        TCustomEdit *self = &edit_;
        Forward([self, f] {
            TCustomForm *form = self->GetParentForm();
            if (form && form->ActiveControl() != self)
                return;  // the model kept the focus elsewhere
            f(*self);
        });
    }

    void TypeText(const QString &text)
    {
        if (text.isEmpty())
            return;
        const std::u32string keys = text.toStdU32String();
        OnModel([keys](TCustomEdit &e) {
            for (char32_t k : keys)
                e.TypeKey(k);  // the model refuses control characters
        });
    }
    void Paste(const QString &text)
    {
        OnModel([t = text.toStdString()](TCustomEdit &e) { e.Paste(t); });
    }

    bool syncing_ = false;
    bool enteringClick_ = false;  // between the press that brought the focus and its release
    TCustomEdit &edit_;

private:
    // A click or drag moved Qt's caret: the model takes it over.
    void SelectionMoved()
    {
        if (syncing_ || enteringClick_)
            return;
        const int caret = line()->cursorPosition();
        int anchor = caret;
        if (line()->hasSelectedText()) {
            const int start = line()->selectionStart();
            const int end = start + static_cast<int>(line()->selectedText().size());
            anchor = caret == start ? end : start;
        }
        const int modelAnchor = edit_.CaretPos() == edit_.SelStart() ? edit_.SelStart() + edit_.SelLength()
                                                                       : edit_.SelStart();
        if (anchor == modelAnchor && caret == edit_.CaretPos())
            return;
        OnModel([anchor, caret](TCustomEdit &e) { e.SetSelection(anchor, caret); });
    }
};

// A date edit: the calendar button at its right end, and the valid date's colour.
class DateEditPeer : public EditPeer {
public:
    DateEditPeer(TDateEditPlus &c, QWidget *parent) : EditPeer(c, parent), date_(c)
    {
        auto *open = line()->addAction(PictureIcon(Picture::Calendar), QLineEdit::TrailingPosition);
        open->setToolTip(QStringLiteral("Calendário (F4); botão direito: períodos"));
        Connect(open, &QAction::triggered, [this] { OpenCalendar(); });
        // The menu offers periods, not editing: text changes through the model.
        line()->setContextMenuPolicy(Qt::CustomContextMenu);
        Connect(line(), &QWidget::customContextMenuRequested,
                [this](const QPoint &at) { PeriodMenu()->popup(line()->mapToGlobal(at)); });
    }

    // The periods' menu, built on first use.
    QMenu *PeriodMenu()
    {
        if (!menu_) {
            menu_ = new QMenu(line());
            for (DatePeriod period : AllPeriods()) {
                QAction *a = menu_->addAction(PeriodName(period));
                a->setData(static_cast<int>(period));
                Connect(a, &QAction::triggered, [this, period] { ApplyPeriod(period, QDate::currentDate()); });
                if (period == DatePeriod::Today)
                    menu_->addSeparator();
            }
        }
        return menu_;
    }

    // A period fills this edit and its partner: the start date and the end
    // date after it in the tab order. Alone, the edit takes the first day.
    void ApplyPeriod(DatePeriod period, QDate today)
    {
        if (!control_.IsUsable())
            return;
        const DateRange range = PeriodOn(period, today);
        TDateEditPlus *self = &date_;
        Forward([self, range] {
            TDateEditPlus *start = self, *end = nullptr;
            if (TCustomForm *form = self->GetParentForm()) {
                std::vector<TDateEditPlus *> dates;
                for (TWinControl *c : form->FocusOrder())
                    if (auto *d = dynamic_cast<TDateEditPlus *>(c))
                        dates.push_back(d);
                const auto at = std::find(dates.begin(), dates.end(), self);
                const auto index = at - dates.begin();
                if (at != dates.end() && index % 2 == 0 && at + 1 != dates.end()) {
                    end = *(at + 1);
                } else if (at != dates.end() && index % 2 == 1) {
                    start = *(at - 1);
                    end = self;
                }
            }
            const auto text = [](QDate d) { return d.toString(QStringLiteral("dd/MM/yyyy")).toStdString(); };
            if (end) {
                start->SetText(text(range.first));
                end->SetText(text(range.last));
            } else {
                self->SetText(text(range.first));
            }
            if (self->CanFocus()) {
                if (TCustomForm *form = self->GetParentForm())
                    form->EnterControl(self);
                if (self->Focused())
                    self->SelectAll();
            }
        });
    }
    ~DateEditPeer() override { delete calendar_.data(); }

    QCalendarWidget *Calendar() const { return calendar_; }

protected:
    bool Event(QObject *watched, QEvent *e) override
    {
        // The lookup key of a date edit is its calendar.
        if (watched == widget_ && e->type() == QEvent::KeyPress) {
            auto *ke = static_cast<QKeyEvent *>(e);
            if ((ke->modifiers() == Qt::NoModifier && (ke->key() == Qt::Key_F2 || ke->key() == Qt::Key_F4)) ||
                (ke->modifiers() == Qt::AltModifier && ke->key() == Qt::Key_Down)) {
                OpenCalendar();
                return true;
            }
        }
        return EditPeer::Event(watched, e);
    }
    void Show() override
    {
        EditPeer::Show();
        QPalette p = widget_->palette();
        p.setColor(QPalette::Text, QtColor(date_.TextColor()));
        widget_->setPalette(p);
    }

private:
    void OpenCalendar()
    {
        if (!control_.IsUsable())
            return;
        if (!calendar_) {
            calendar_ = new DateCalendar(date_.NomeSemana);
            calendar_->setWindowFlags(Qt::Popup);
            Connect(calendar_.data(), &QCalendarWidget::activated, [this](QDate d) { Picked(d); });
            Connect(calendar_.data(), &QCalendarWidget::clicked, [this](QDate d) { Picked(d); });
        }
        const QDate shown = QDate::fromString(qs(date_.Text()), QStringLiteral("dd/MM/yyyy"));
        calendar_->setSelectedDate(shown.isValid() ? shown : QDate::currentDate());
        calendar_->adjustSize();
        calendar_->move(line()->mapToGlobal(QPoint(0, line()->height())));
        calendar_->show();
        calendar_->setFocus();
    }

    // A date picked in the calendar is typed into the edit, as a person would.
    void Picked(QDate d)
    {
        if (calendar_)
            calendar_->hide();
        // The popup had the keyboard: the window takes it back for the edit.
        line()->activateWindow();
        TCustomEdit *self = &edit_;
        const std::string text = d.toString(QStringLiteral("dd/MM/yyyy")).toStdString();
        Forward([self, text] {
            self->SetFocus();
            if (!self->Focused())
                return;
            self->SelectAll();
            self->Paste(text);
            self->EnteredByKeyboard();  // what is typed next replaces the date
        });
    }

    TDateEditPlus &date_;
    QPointer<QCalendarWidget> calendar_;
    QPointer<QMenu> menu_;
};

} // namespace

std::unique_ptr<QtPeer> MakeEditPeer(TControl &c, QWidget *parent, QtWidgetSet &)
{
    return std::make_unique<EditPeer>(static_cast<TCustomEdit &>(c), parent);
}
std::unique_ptr<QtPeer> MakeDateEditPeer(TControl &c, QWidget *parent, QtWidgetSet &)
{
    return std::make_unique<DateEditPeer>(static_cast<TDateEditPlus &>(c), parent);
}

QCalendarWidget *QtWidgetSet::CalendarOf(const TControl &control)
{
    auto *p = dynamic_cast<DateEditPeer *>(control.Peer());
    return p ? p->Calendar() : nullptr;
}

QMenu *QtWidgetSet::PeriodMenuOf(const TControl &control)
{
    auto *p = dynamic_cast<DateEditPeer *>(control.Peer());
    return p ? p->PeriodMenu() : nullptr;
}
