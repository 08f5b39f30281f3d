// Forms: a sub-window of the main window's MDI area (or a top-level window).
#include "qtpeer.h"

#include "parameter_sets.h"
#include "vcl/forms.h"
#include "window_arrangement.h"

#include <QCloseEvent>
#include <QIcon>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QStyle>
#include <QTimer>

#include <algorithm>

namespace {

class FormPeer : public QtPeer {
public:
    FormPeer(TCustomForm &form, QMdiArea *area) : QtPeer(form, new QWidget), form_(form)
    {
        widget_->setAutoFillBackground(true);
        if (area) {
            // A fixed-size screen scrolls inside a window made smaller than it.
            sub_ = form.BorderStyle() == bsSizeable ? area->addSubWindow(widget_) : AddFixedSubWindow(*area, widget_);
            sub_->setAttribute(Qt::WA_DeleteOnClose, false);
            if (form.BorderStyle() != bsSizeable)
                sub_->setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                     Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
            sub_->setWindowIcon(QIcon::fromTheme(QStringLiteral("x-office-document"),
                                                 sub_->style()->standardIcon(QStyle::SP_FileDialogDetailedView)));
            outer_ = sub_;
            // The screen's menu (its window icon, or a right click on it)
            // repeats the last run and keeps named sets of parameters.
            if (QMenu *menu = sub_->systemMenu())
                AddParameterSetActions(*menu, form);
            widget_->setContextMenuPolicy(Qt::CustomContextMenu);
            Connect(widget_.data(), &QWidget::customContextMenuRequested, [this](const QPoint &at) {
                if (QMenu *menu = sub_ ? sub_->systemMenu() : nullptr)
                    menu->popup(widget_->mapToGlobal(at));
            });
            Connect(area, &QMdiArea::subWindowActivated, [this](QMdiSubWindow *w) {
                auto *ws = QtSet();
                if (w == sub_ && ws && !ws->SyncingFocus() && Application && Application->ActiveChild() != &form_ &&
                    !form_.Releasing())
                    Forward([self = &form_] { Application->ActivateChild(self); });
            });
        }
        Hook(Outer());
    }

    bool Event(QObject *watched, QEvent *e) override
    {
        // Closing the window asks the model, which decides whether it goes.
        if (watched == Outer() && e->type() == QEvent::Close) {
            e->ignore();
            Forward([self = &form_] { self->Close(); });
            return true;
        }
        return false;
    }

protected:
    void SyncBounds() override
    {
        const int w = form_.ClientWidth() > 0 ? form_.ClientWidth() : form_.Width();
        const int h = form_.ClientHeight() > 0 ? form_.ClientHeight() : form_.Height();
        const QRect bounds(form_.Left(), form_.Top(), w, h);
        // Only a change in the model moves the window: a person may have dragged it.
        if (bounds == placed_)
            return;
        placed_ = bounds;
        if (form_.BorderStyle() == bsSizeable) {
            widget_->setMinimumSize(0, 0);
            widget_->resize(w, h);
        } else {
            widget_->setFixedSize(w, h);
        }
        if (sub_) {
            if (form_.BorderStyle() == bsSizeable)
                sub_->adjustSize();
            else
                FitFixedSubWindow(*sub_);
            Place();
        } else {
            widget_->move(form_.Left(), form_.Top());
        }
    }
    void SyncColor() override { SetRoleColor(QPalette::Window, form_.Color()); }
    void SyncOwn(ControlProperty what) override
    {
        if (what == ControlProperty::Caption)
            Outer()->setWindowTitle(QtCaption(form_.Caption()));
        else if (what == ControlProperty::State)
            SyncState();
    }
    void SyncFocus() override {}

private:
    void Place() { PlaceInside(sub_, QPoint(form_.Left(), form_.Top())); }

    // Designed positions assume another desktop: the window goes where the
    // whole of it shows, centred in the area when the designed place would
    // push it against an edge.
    static void PlaceInside(QPointer<QMdiSubWindow> sub, QPoint designed)
    {
        QMdiArea *area = sub ? sub->mdiArea() : nullptr;
        if (!area)
            return;
        const QSize room = area->viewport()->size();
        if (!area->isVisible() || room.isEmpty()) {
            // Not laid out yet: place once the area has its size.
            QTimer::singleShot(0, sub, [sub, designed] {
                if (sub && sub->mdiArea() && sub->mdiArea()->isVisible())
                    PlaceInside(sub, designed);
            });
            return;
        }
        const int margin = 8;
        const QSize size = sub->size();
        int x = designed.x(), y = designed.y();
        if (x + size.width() + margin > room.width() || y + size.height() + margin > room.height()) {
            x = (room.width() - size.width()) / 2;
            y = (room.height() - size.height()) / 2;
        }
        sub->move(std::max(0, x), std::max(0, y));
    }

    void SyncState()
    {
        QWidget *w = Outer();
        switch (form_.WindowState()) {
        case wsMinimized: if (!w->isMinimized()) w->showMinimized(); break;
        case wsMaximized: if (!w->isMaximized()) w->showMaximized(); break;
        case wsNormal: if (w->isMinimized() || w->isMaximized()) w->showNormal(); break;
        }
    }

    TCustomForm &form_;
    QPointer<QMdiSubWindow> sub_;
    QRect placed_;
};

} // namespace

std::unique_ptr<QtPeer> MakeFormPeer(TControl &c, QWidget *, QtWidgetSet &ws)
{
    return std::make_unique<FormPeer>(static_cast<TCustomForm &>(c), ws.MdiArea());
}
