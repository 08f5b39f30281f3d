// Combo boxes: a pick from the list goes to the model.
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
            box()->setCurrentIndex(combo_.ItemIndex());
        } else if (what == ControlProperty::ItemIndex) {
            box()->setCurrentIndex(combo_.ItemIndex());
        }
    }

private:
    TComboBox &combo_;
};

} // namespace

std::unique_ptr<QtPeer> MakeComboPeer(TControl &c, QWidget *parent, QtWidgetSet &)
{
    return std::make_unique<ComboPeer>(static_cast<TComboBox &>(c), parent);
}
