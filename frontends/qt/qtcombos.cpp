// Combo boxes: a pick from the list goes to the model.
#include "qticons.h"
#include "qtpeer.h"

#include "vcl/stdctrls.h"

#include <QComboBox>
#include <QSignalBlocker>

namespace {

class ComboPeer : public QtPeer {
public:
    ComboPeer(TComboBox &c, QWidget *parent) : QtPeer(c, new QComboBox(parent)), combo_(c)
    {
        auto *b = box();
        b->setEditable(false);  // the model only knows picks from the list
        HookFocus();
        Connect(b, &QComboBox::activated, [this](int index) {
            TComboBox *self = &combo_;
            Forward([self, index] { self->PickItem(index); });
        });
    }

protected:
    QComboBox *box() const { return static_cast<QComboBox *>(widget_.data()); }
    void SyncColor() override
    {
        // A pick-only box is drawn as a button: its face takes the colour too.
        SetRoleColor(QPalette::Base, combo_.Color());
        if (combo_.Color() != clWindow)
            SetRoleColor(QPalette::Button, combo_.Color());
    }
    void SyncOwn(ControlProperty what) override
    {
        QSignalBlocker block(box());
        if (what == ControlProperty::Items) {
            QStringList items;
            for (const auto &i : combo_.Items())
                items << qs(i);
            QStringList shown;
            for (int i = 0; i < box()->count(); ++i)
                shown << box()->itemText(i);
            if (items != shown) {
                box()->clear();
                box()->addItems(items);
            }
            SyncNotes();
            box()->setCurrentIndex(combo_.ItemIndex());
            SyncHint();
        } else if (what == ControlProperty::ItemIndex) {
            box()->setCurrentIndex(combo_.ItemIndex());
            SyncHint();
        } else if (what == ControlProperty::Hint) {
            SyncHint();
        }
    }

private:
    // An entry with a remark is marked without touching its text: a picture
    // (also shown on the closed box), italics in the list and the remark as
    // its hint.
    void SyncNotes()
    {
        for (int i = 0; i < box()->count(); ++i) {
            const std::string &note = combo_.ItemNote(i);
            if (note.empty()) {
                box()->setItemData(i, QVariant(), Qt::DecorationRole);
                box()->setItemData(i, QVariant(), Qt::FontRole);
                box()->setItemData(i, QVariant(), Qt::ToolTipRole);
                continue;
            }
            QFont italic = box()->font();
            italic.setItalic(true);
            box()->setItemData(i, PictureIcon(Picture::EditLayout), Qt::DecorationRole);
            box()->setItemData(i, italic, Qt::FontRole);
            box()->setItemData(i, qs(note), Qt::ToolTipRole);
        }
    }
    // The closed box tells the remark of the entry it shows.
    void SyncHint()
    {
        QString hint = qs(combo_.Hint());
        const std::string &note = combo_.ItemNote(combo_.ItemIndex());
        if (!note.empty())
            hint = hint.isEmpty() ? qs(note) : hint + QLatin1Char('\n') + qs(note);
        box()->setToolTip(hint);
    }

    TComboBox &combo_;
};

} // namespace

std::unique_ptr<QtPeer> MakeComboPeer(TControl &c, QWidget *parent, QtWidgetSet &)
{
    return std::make_unique<ComboPeer>(static_cast<TComboBox &>(c), parent);
}
