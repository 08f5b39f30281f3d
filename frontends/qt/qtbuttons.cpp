// Buttons: tool buttons (actions and lookups), push buttons, radio buttons.
#include "qtpeer.h"

#include "parameter_sets.h"
#include "qticons.h"
#include "report/qrddlgs.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"
#include "vdl/BtnPesquisa.h"

#include <QKeySequence>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QToolButton>

#include <memory>

#include <cstring>
#include <vector>

namespace {

// The base report screen's action buttons: their picture and shortcut.
struct Action {
    const char *name;
    Picture picture;
    QKeyCombination keys;
    QKeyCombination alsoKeys = QKeyCombination();  // a second way, none when empty
};
const Action kActions[] = {
    {"sbtPrint", Picture::Print, QKeyCombination(Qt::ControlModifier, Qt::Key_P)},
    // Enter goes to the next field; with Ctrl it shows the report.
    {"sbtPreview", Picture::Preview, QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_P),
     QKeyCombination(Qt::ControlModifier, Qt::Key_Return)},
    {"sbtSalvarComo", Picture::SaveAs, QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_S)},
    {"sbtReportEdit", Picture::EditLayout, QKeyCombination(Qt::ControlModifier, Qt::Key_E)},
};

const Action *ActionOf(const TControl &c)
{
    for (const Action &a : kActions)
        if (c.Name() == a.name)
            return &a;
    return nullptr;
}

// The client area of the form a widget is on.
QWidget *FormWidgetOf(QWidget *w)
{
    for (; w; w = w->parentWidget())
        if (dynamic_cast<TCustomForm *>(ControlOf(w)))
            return w;
    return nullptr;
}

// Tool buttons never take the focus: the edit they serve keeps it.
class ToolButtonPeer : public QtPeer {
public:
    ToolButtonPeer(TControl &c, QWidget *parent) : QtPeer(c, new QToolButton(parent)), action_(ActionOf(c))
    {
        auto *b = button();
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRaise(dynamic_cast<TBtnPesquisa *>(&c) == nullptr);
        b->setIconSize(QSize(16, 16));
        Connect(b, &QToolButton::clicked, [this] { RunAction(); });
        if (action_)
            if (QWidget *form = FormWidgetOf(parent)) {
                // The shortcut works anywhere in the screen, as the button would.
                for (QKeyCombination keys : {action_->keys, action_->alsoKeys, KeypadTwin(action_->alsoKeys)}) {
                    if (keys.key() == Qt::Key_unknown)
                        continue;
                    auto *shortcut = new QShortcut(QKeySequence(keys), form);
                    shortcut->setContext(Qt::WidgetWithChildrenShortcut);
                    shortcuts_.push_back(shortcut);
                    Connect(shortcut, &QShortcut::activated, [this] {
                        if (control_.IsUsable())
                            RunAction();
                    });
                }
            }
    }

protected:
    QToolButton *button() const { return static_cast<QToolButton *>(widget_.data()); }

    // The click in the model; a report that ran leaves its parameters as
    // the screen's last run.
    void RunAction()
    {
        TControl *self = &control_;
        const long runs = TReportDesignerDialog::TotalRunCount();
        // A click may release the form, and this peer with it.
        const std::weak_ptr<const int> alive = life_;
        Forward([self] { self->Click(); });
        if (alive.expired())
            return;
        if (action_ && TReportDesignerDialog::TotalRunCount() != runs)
            if (TCustomForm *form = control_.GetParentForm())
                RememberLastRun(*form);
    }
    void SyncOwn(ControlProperty what) override
    {
        if (what != ControlProperty::Caption && what != ControlProperty::Hint)
            return;
        auto *b = button();
        if (!control_.Caption().empty()) {
            b->setText(QtCaption(control_.Caption()));
            return;
        }
        const bool lookup = dynamic_cast<TBtnPesquisa *>(&control_) != nullptr;
        b->setIcon(PictureIcon(lookup ? Picture::Search : action_ ? action_->picture : Picture::Document));
        // The hint names the key that does the same.
        QString hint = qs(control_.Hint());
        if (action_ && action_->alsoKeys.key() != Qt::Key_unknown)
            hint += QStringLiteral(" (%1 ou %2)")
                        .arg(QKeySequence(action_->keys).toString(QKeySequence::PortableText),
                             QKeySequence(action_->alsoKeys).toString(QKeySequence::PortableText).replace(
                                 QStringLiteral("Return"), QStringLiteral("Enter")));
        else if (action_)
            hint += QStringLiteral(" (%1)").arg(QKeySequence(action_->keys).toString(QKeySequence::PortableText));
        else if (lookup && !hint.isEmpty())
            hint += QStringLiteral(" (F2)");
        b->setToolTip(hint);
    }

private:
    // Return's twin on the numeric keypad.
    static QKeyCombination KeypadTwin(QKeyCombination keys)
    {
        if (keys.key() != Qt::Key_Return)
            return QKeyCombination();
        return QKeyCombination(keys.keyboardModifiers(), Qt::Key_Enter);
    }

    const Action *action_;
    std::shared_ptr<const int> life_ = std::make_shared<const int>(0);  // gone with the peer
    std::vector<QPointer<QShortcut>> shortcuts_;

public:
    ~ToolButtonPeer() override
    {
        for (auto &s : shortcuts_)
            delete s.data();
    }
};

class ButtonPeer : public QtPeer {
public:
    ButtonPeer(TControl &c, QWidget *parent) : QtPeer(c, new QPushButton(parent))
    {
        HookFocus();
        Connect(static_cast<QPushButton *>(widget_.data()), &QPushButton::clicked, [this] {
            TControl *self = &control_;
            Forward([self] { self->Click(); });
        });
    }

protected:
    void SyncOwn(ControlProperty what) override
    {
        if (what == ControlProperty::Caption)
            static_cast<QPushButton *>(widget_.data())->setText(QtCaption(control_.Caption()));
    }
};

// As on the desktop the model comes from, the whole box of a radio button takes the click.
class WholeRadioButton : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    bool hitButton(const QPoint &pos) const override { return rect().contains(pos); }
};

class RadioPeer : public QtPeer {
public:
    RadioPeer(TRadioButton &c, QWidget *parent) : QtPeer(c, new WholeRadioButton(parent)), radio_(c)
    {
        auto *b = static_cast<QRadioButton *>(widget_.data());
        b->setAutoExclusive(false);  // the model unchecks the siblings
        HookFocus();
        Connect(b, &QRadioButton::clicked, [this] {
            TControl *self = &radio_;
            Forward([self] { self->Click(); });
        });
    }

protected:
    // Arrows move within the group and Space checks: the model decides.
    bool WantsKey(TKey key, TShiftState shift) const override
    {
        return shift == ssNone && (key == TKey::Up || key == TKey::Down || key == TKey::Left || key == TKey::Right || key == TKey::Space);
    }
    void SyncOwn(ControlProperty what) override
    {
        auto *b = static_cast<QRadioButton *>(widget_.data());
        if (what == ControlProperty::Caption)
            b->setText(QtCaption(radio_.Caption()));
        else if (what == ControlProperty::Checked && b->isChecked() != radio_.Checked())
            b->setChecked(radio_.Checked());
    }

private:
    TRadioButton &radio_;
};

} // namespace

std::unique_ptr<QtPeer> MakeToolButtonPeer(TControl &c, QWidget *parent, QtWidgetSet &)
{
    return std::make_unique<ToolButtonPeer>(c, parent);
}
std::unique_ptr<QtPeer> MakeButtonPeer(TControl &c, QWidget *parent, QtWidgetSet &)
{
    return std::make_unique<ButtonPeer>(c, parent);
}
std::unique_ptr<QtPeer> MakeRadioPeer(TControl &c, QWidget *parent, QtWidgetSet &)
{
    return std::make_unique<RadioPeer>(static_cast<TRadioButton &>(c), parent);
}
