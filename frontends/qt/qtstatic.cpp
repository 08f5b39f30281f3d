// Controls that only show: labels, bevels, panels and group boxes.
#include "qtpeer.h"

#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <QFrame>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QPointer>
#include <QShortcut>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

class LabelPeer : public QtPeer {
public:
    LabelPeer(TControl &c, QWidget *parent) : QtPeer(c, new QLabel(parent))
    {
        label()->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

    // Alt+`letter` puts the focus on `buddy` through the model; the letter is
    // underlined wherever it is in the caption, whatever the caption becomes.
    void SetAccelerator(QChar letter, TWinControl &buddy, QWidget *form)
    {
        accel_ = letter;
        buddy_ = &buddy;
        delete shortcut_.data();
        shortcut_ = new QShortcut(QKeySequence(Qt::ALT | Qt::Key(letter.toUpper().unicode())), form);
        shortcut_->setContext(Qt::WidgetWithChildrenShortcut);
        Connect(shortcut_.data(), &QShortcut::activated, [target = &buddy, this] {
            // As Tab would: the field's text selected, so typing replaces it.
            if (target->IsUsable())
                Forward([target] {
                    if (TCustomForm *form = target->GetParentForm())
                        form->EnterControl(target);
                });
        });
        SyncOwn(ControlProperty::Caption);
    }
    ~LabelPeer() override { delete shortcut_.data(); }

protected:
    QLabel *label() const { return static_cast<QLabel *>(widget_.data()); }
    void SyncBounds() override
    {
        // Labels are drawn from the top of their box; leave room for the descent.
        QRect box(control_.Left(), control_.Top(), control_.Width(), std::max(control_.Height(), 16));
        box = OutOfTheWay(box);
        widget_->setGeometry(box);
    }
    void SyncOwn(ControlProperty what) override
    {
        if (what == ControlProperty::Caption) {
            const QString text = QtCaption(control_.Caption());
            const qsizetype at = accel_.isNull() ? -1 : text.indexOf(accel_, 0, Qt::CaseInsensitive);
            if (at >= 0) {
                // A label without a Qt buddy (the shortcut goes through the
                // model) would show '&' as it is: the letter is underlined here.
                label()->setTextFormat(Qt::RichText);
                label()->setText(QStringLiteral("<span style=\"white-space:pre\">%1<u>%2</u>%3</span>")
                                     .arg(text.left(at).toHtmlEscaped(), text.mid(at, 1).toHtmlEscaped(),
                                          text.mid(at + 1).toHtmlEscaped()));
            } else {
                label()->setTextFormat(Qt::PlainText);
                label()->setText(text);
            }
            SyncBounds();
        }
    }

public:
    // The keys that bring the focus to `field`, empty when this label has none for it.
    QKeySequence KeysFor(const TWinControl &field) const
    {
        return buddy_ == &field && shortcut_ ? shortcut_->key() : QKeySequence();
    }

private:
    QChar accel_;
    const TWinControl *buddy_ = nullptr;
    QPointer<QShortcut> shortcut_;
    // A label on the form itself paints under the windowed controls next to
    // it; where it would show through one of their children (a screen code
    // over a group's frame), it moves to the right end of its line.
    QRect OutOfTheWay(const QRect &box) const
    {
        auto *form = dynamic_cast<TCustomForm *>(control_.Parent());
        if (!form)
            return box;
        const QRect text(box.topLeft(), QSize(std::min(box.width(), label()->sizeHint().width()), box.height()));
        bool covered = false;
        for (TControl *sibling : form->Controls()) {
            auto *w = dynamic_cast<TWinControl *>(sibling);
            if (!w || sibling == &control_)
                continue;
            for (TControl *child : w->Controls()) {
                const QRect r(w->Left() + child->Left(), w->Top() + child->Top(), child->Width(), child->Height());
                if (child->Visible() && r.intersects(text))
                    covered = true;
            }
        }
        if (!covered)
            return box;
        const int width = form->ClientWidth() > 0 ? form->ClientWidth() : form->Width();
        QRect moved = box;
        moved.setWidth(text.width());
        moved.moveLeft(width - text.width() - 6);
        return moved;
    }
};

class BevelPeer : public QtPeer {
public:
    BevelPeer(TControl &c, QWidget *parent) : QtPeer(c, new QFrame(parent)) {}

protected:
    void SyncBounds() override
    {
        QtPeer::SyncBounds();
        auto *f = static_cast<QFrame *>(widget_.data());
        // A flat bevel is a separator line, otherwise a sunken box.
        if (control_.Height() <= 10)
            f->setFrameStyle(QFrame::HLine | QFrame::Sunken);
        else if (control_.Width() <= 10)
            f->setFrameStyle(QFrame::VLine | QFrame::Sunken);
        else
            f->setFrameStyle(QFrame::Box | QFrame::Sunken);
    }
};

class PanelPeer : public QtPeer {
public:
    PanelPeer(TControl &c, QWidget *parent) : QtPeer(c, new QFrame(parent))
    {
        auto *f = static_cast<QFrame *>(widget_.data());
        f->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
        caption_ = new QLabel(f);
        caption_->setAlignment(Qt::AlignCenter);
        caption_->setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void SyncBounds() override
    {
        QtPeer::SyncBounds();
        caption_->setGeometry(0, 0, control_.Width(), control_.Height());
        caption_->lower();
    }
    void SyncOwn(ControlProperty what) override
    {
        if (what == ControlProperty::Caption)
            caption_->setText(QtCaption(control_.Caption()));
    }

private:
    QLabel *caption_;
};

class GroupBoxPeer : public QtPeer {
public:
    GroupBoxPeer(TControl &c, QWidget *parent) : QtPeer(c, new QGroupBox(parent)) {}

protected:
    void SyncOwn(ControlProperty what) override
    {
        if (what == ControlProperty::Caption)
            static_cast<QGroupBox *>(widget_.data())->setTitle(QtCaption(control_.Caption()).trimmed());
    }
};

} // namespace

std::unique_ptr<QtPeer> MakeLabelPeer(TControl &c, QWidget *parent, QtWidgetSet &)
{
    return std::make_unique<LabelPeer>(c, parent);
}
std::unique_ptr<QtPeer> MakeBevelPeer(TControl &c, QWidget *parent, QtWidgetSet &)
{
    return std::make_unique<BevelPeer>(c, parent);
}
std::unique_ptr<QtPeer> MakePanelPeer(TControl &c, QWidget *parent, QtWidgetSet &)
{
    return std::make_unique<PanelPeer>(c, parent);
}
std::unique_ptr<QtPeer> MakeGroupBoxPeer(TControl &c, QWidget *parent, QtWidgetSet &)
{
    return std::make_unique<GroupBoxPeer>(c, parent);
}

namespace {
// The edit or list a caption stands for: the nearest one to its right on its line.
TWinControl *BuddyOf(const TControl &label)
{
    auto *parent = label.Parent();
    if (!parent)
        return nullptr;
    TWinControl *best = nullptr;
    for (TControl *c : parent->Controls()) {
        auto *w = dynamic_cast<TWinControl *>(c);
        if (!w || !(dynamic_cast<TCustomEdit *>(w) || dynamic_cast<TComboBox *>(w)))
            continue;
        if (std::abs(w->Top() - label.Top()) > 6 || w->Left() <= label.Left())
            continue;
        if (!best || w->Left() < best->Left())
            best = w;
    }
    return best;
}

void CollectLabels(TWinControl &parent, std::vector<TLabel *> &out)
{
    for (TControl *c : parent.Controls()) {
        if (auto *label = dynamic_cast<TLabel *>(c))
            out.push_back(label);
        else if (auto *w = dynamic_cast<TWinControl *>(c))
            CollectLabels(*w, out);
    }
}
} // namespace

void AssignAccelerators(TCustomForm &form, const QString &taken)
{
    std::vector<TLabel *> labels;
    CollectLabels(form, labels);
    QString used = taken.toUpper();
    for (TLabel *label : labels) {
        TWinControl *buddy = BuddyOf(*label);
        auto *peer = dynamic_cast<LabelPeer *>(label->Peer());
        QWidget *formWidget = QtWidgetSet::WidgetOf(form);
        if (!peer || !buddy || !formWidget || label->Caption().find('&') != std::string::npos)
            continue;
        // The first letter of a word, else any letter, not yet taken.
        const QString caption = QtCaption(label->Caption());
        QChar letter;
        for (int pass = 0; pass < 2 && letter.isNull(); ++pass)
            for (qsizetype i = 0; i < caption.size() && letter.isNull(); ++i) {
                const QChar c = caption[i];
                const bool wordStart = i == 0 || !caption[i - 1].isLetter();
                if (c.isLetter() && c.unicode() < 128 && (pass == 1 || wordStart) && !used.contains(c.toUpper()))
                    letter = c;
            }
        if (letter.isNull())
            continue;
        used += letter.toUpper();
        peer->SetAccelerator(letter, *buddy, formWidget);
    }
}

QString CaptionOf(const TWinControl &field)
{
    std::vector<TLabel *> labels;
    if (TCustomForm *form = field.GetParentForm())
        CollectLabels(*form, labels);
    for (TLabel *label : labels)
        if (BuddyOf(*label) == &field)
            return QtCaption(label->Caption()).trimmed();
    return {};
}

QKeySequence QtWidgetSet::AcceleratorOf(const TWinControl &field)
{
    std::vector<TLabel *> labels;
    if (TCustomForm *form = field.GetParentForm())
        CollectLabels(*form, labels);
    for (TLabel *label : labels)
        if (auto *peer = dynamic_cast<LabelPeer *>(label->Peer()))
            if (QKeySequence keys = peer->KeysFor(field); !keys.isEmpty())
                return keys;
    return {};
}
