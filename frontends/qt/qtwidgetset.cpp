#include "qtwidgetset.h"

#include "hostpkg.h"
#include "vdl/BtnPesquisa.h"
#include "pickdialogs.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QEvent>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QGroupBox>
#include <QInputDialog>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <vector>

namespace {

QString qs(const std::string &s) { return QString::fromStdString(s); }

const char *const ControlProp = "fisControl";

TControl *controlOf(const QWidget *w)
{
    if (!w)
        return nullptr;
    return reinterpret_cast<TControl *>(w->property(ControlProp).value<quintptr>());
}

QtWidgetSet *qtSet() { return dynamic_cast<QtWidgetSet *>(&WidgetSet()); }

class QtPeer;

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

// ---------------------------------------------------------------- base peer

class QtPeer : public ControlPeer {
public:
    QtPeer(TControl &control, QWidget *widget) : control_(control), widget_(widget)
    {
        widget->setProperty(ControlProp, QVariant::fromValue(reinterpret_cast<quintptr>(&control)));
        widget->setObjectName(qs(control.Name()));
    }
    ~QtPeer() override
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

    // An event of a hooked widget; true swallows it.
    virtual bool Event(QObject *watched, QEvent *e)
    {
        if (watched != widget_ || !focusHooked_)
            return false;
        if (e->type() == QEvent::FocusIn)
            return FocusIn(static_cast<QFocusEvent *>(e));
        if (e->type() == QEvent::KeyPress) {
            auto *ke = static_cast<QKeyEvent *>(e);
            if (ke->key() == Qt::Key_Tab || ke->key() == Qt::Key_Backtab) {
                const bool back = ke->key() == Qt::Key_Backtab || (ke->modifiers() & Qt::ShiftModifier);
                if (auto *ws = qtSet()) {
                    TControl *self = &control_;
                    ws->SetMoveByTab(true);
                    ws->Run([self, back] {
                        if (TCustomForm *form = self->GetParentForm())
                            form->SelectNext(!back);
                    });
                    ws->SetMoveByTab(false);
                }
                return true;
            }
        }
        return Filter(e);
    }

    QWidget *Widget() const { return widget_; }
    // Where the children's widgets go.
    virtual QWidget *Container() const { return widget_; }

    void Changed(ControlProperty what) override
    {
        if (!widget_)
            return;
        switch (what) {
        case ControlProperty::Bounds: SyncBounds(); break;
        case ControlProperty::Enabled: widget_->setEnabled(control_.Enabled()); break;
        case ControlProperty::Visible: Outer()->setVisible(control_.Visible()); break;
        case ControlProperty::Color: SyncColor(); break;
        case ControlProperty::Font:
            widget_->setFont(QtFont(control_.Font().Name, control_.Font().Size, control_.Font().Bold));
            break;
        case ControlProperty::Hint: widget_->setToolTip(qs(control_.Hint())); break;
        case ControlProperty::Focus: SyncFocus(); break;
        default: SyncOwn(what); break;
        }
    }

    void SyncAll()
    {
        for (auto p : {ControlProperty::Bounds, ControlProperty::Enabled, ControlProperty::Color, ControlProperty::Font,
                       ControlProperty::Hint, ControlProperty::Caption, ControlProperty::Text, ControlProperty::Items,
                       ControlProperty::ItemIndex, ControlProperty::Checked, ControlProperty::State,
                       ControlProperty::Visible})
            Changed(p);
    }

protected:
    virtual void SyncBounds() { widget_->setGeometry(control_.Left(), control_.Top(), control_.Width(), control_.Height()); }
    virtual void SyncColor() {}
    virtual void SyncOwn(ControlProperty) {}
    virtual void SyncFocus()
    {
        auto *w = dynamic_cast<TWinControl *>(&control_);
        TCustomForm *form = control_.GetParentForm();
        if (w && form && form->ActiveControl() == w)
            if (auto *ws = qtSet())
                ws->FollowModelFocus(*form);
    }

    void SetRoleColor(QPalette::ColorRole role, TColor c)
    {
        QPalette p = widget_->palette();
        p.setColor(role, QtColor(c));
        widget_->setPalette(p);
    }

    // Tab keys and mouse focus go to the model for every control that takes the focus.
    void HookFocus()
    {
        widget_->setFocusPolicy(Qt::StrongFocus);
        focusHooked_ = true;
        Hook(widget_);
    }
    void Hook(QWidget *w) { hooks_.push_back(new EventHook(w, this)); }
    // More events of a control that takes the focus.
    virtual bool Filter(QEvent *) { return false; }

    bool FocusIn(QFocusEvent *fe)
    {
        auto *ws = qtSet();
        if (!ws || ws->SyncingFocus())
            return false;
        if (fe->reason() == Qt::MouseFocusReason) {
            ws->FocusRequested(static_cast<TWinControl &>(control_));
        } else if (TCustomForm *form = control_.GetParentForm()) {
            QTimer::singleShot(0, widget_, [form, ws] {
                // Qt moved the focus on its own; the model decides where it is.
                const auto &open = Application->Children();
                if (std::find(open.begin(), open.end(), form) != open.end())
                    ws->FollowModelFocus(*form);
            });
        }
        return false;
    }

    template <class S, class Signal, class F>
    void Connect(S *sender, Signal signal, F f)
    {
        connections_.push_back(QObject::connect(sender, signal, f));
    }

    // Forwards a person's action on this control to the model.
    template <class F>
    void Forward(F f)
    {
        if (auto *ws = qtSet())
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

bool EventHook::eventFilter(QObject *watched, QEvent *e) { return peer_ && peer_->Event(watched, e); }

// ---------------------------------------------------------------- forms

class FormPeer : public QtPeer {
public:
    FormPeer(TCustomForm &form, QMdiArea *area) : QtPeer(form, new QWidget), form_(form)
    {
        widget_->setAutoFillBackground(true);
        if (area) {
            sub_ = area->addSubWindow(widget_);
            sub_->setAttribute(Qt::WA_DeleteOnClose, false);
            if (form.BorderStyle() != bsSizeable)
                sub_->setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                     Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
            sub_->setWindowIcon(sub_->style()->standardIcon(QStyle::SP_FileDialogDetailedView));
            outer_ = sub_;
            Connect(area, &QMdiArea::subWindowActivated, [this](QMdiSubWindow *w) {
                auto *ws = qtSet();
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
            sub_->adjustSize();
            // Designed positions assume a larger desktop; keep the window inside the area.
            const QSize room = sub_->mdiArea() ? sub_->mdiArea()->viewport()->size() : QSize();
            const int x = std::max(0, std::min(form_.Left(), room.width() - sub_->width()));
            const int y = std::max(0, std::min(form_.Top(), room.height() - sub_->height()));
            sub_->move(x, y);
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

// ---------------------------------------------------------------- plain controls

class LabelPeer : public QtPeer {
public:
    LabelPeer(TControl &c, QWidget *parent) : QtPeer(c, new QLabel(parent)) { label()->setAlignment(Qt::AlignLeft | Qt::AlignTop); }

protected:
    QLabel *label() const { return static_cast<QLabel *>(widget_.data()); }
    void SyncBounds() override
    {
        // Labels are drawn from the top of their box; leave room for the descent.
        widget_->setGeometry(control_.Left(), control_.Top(), control_.Width(), std::max(control_.Height(), 16));
    }
    void SyncOwn(ControlProperty what) override
    {
        if (what == ControlProperty::Caption)
            label()->setText(QtCaption(control_.Caption()));
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

// Tool buttons never take the focus: the edit they serve keeps it.
class ToolButtonPeer : public QtPeer {
public:
    ToolButtonPeer(TControl &c, QWidget *parent) : QtPeer(c, new QToolButton(parent))
    {
        auto *b = static_cast<QToolButton *>(widget_.data());
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRaise(dynamic_cast<TBtnPesquisa *>(&c) == nullptr);
        Connect(b, &QToolButton::clicked, [this] {
            TControl *self = &control_;
            Forward([self] { self->Click(); });
        });
    }

protected:
    void SyncOwn(ControlProperty what) override
    {
        if (what != ControlProperty::Caption && what != ControlProperty::Hint)
            return;
        auto *b = static_cast<QToolButton *>(widget_.data());
        if (!control_.Caption().empty()) {
            b->setText(QtCaption(control_.Caption()));
            return;
        }
        if (dynamic_cast<TBtnPesquisa *>(&control_)) {
            b->setText(QStringLiteral("…"));
            return;
        }
        // Captionless tool buttons show a picture for what their hint says.
        const std::string &hint = control_.Hint();
        QStyle::StandardPixmap icon = QStyle::SP_FileIcon;
        if (hint.find("Imprimir") != std::string::npos) icon = QStyle::SP_DialogApplyButton;
        else if (hint.find("Visualizar") != std::string::npos) icon = QStyle::SP_FileDialogContentsView;
        else if (hint.find("Salvar") != std::string::npos) icon = QStyle::SP_DialogSaveButton;
        else if (hint.find("Editar") != std::string::npos) icon = QStyle::SP_FileDialogDetailedView;
        b->setIcon(b->style()->standardIcon(icon));
    }
};

class ButtonPeer : public QtPeer {
public:
    ButtonPeer(TWinControl &c, QWidget *parent) : QtPeer(c, new QPushButton(parent))
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
    void SyncColor() override { SetRoleColor(QPalette::Base, combo_.Color()); }
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

// ---------------------------------------------------------------- edits

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
    }

protected:
    QLineEdit *line() const { return static_cast<QLineEdit *>(widget_.data()); }
    void SyncColor() override { SetRoleColor(QPalette::Base, edit_.Color()); }
    void SyncOwn(ControlProperty what) override
    {
        if (what == ControlProperty::Text)
            ShowText();
    }

private:
    void ShowText()
    {
        const QString shown = qs(edit_.DisplayText());
        if (line()->text() != shown) {
            line()->setText(shown);
            line()->setCursorPosition(CaretAfterText(shown));
        }
    }

    // Where the caret goes after the model took a key: after the last filled
    // position of a mask, else at the end.
    int CaretAfterText(const QString &shown) const
    {
        auto *m = dynamic_cast<TMaskEdit *>(&edit_);
        if (!m || m->EditMask().empty())
            return static_cast<int>(shown.size());
        const std::string &mask = m->EditMask();
        const auto semi = mask.rfind(';');
        const QChar blank = semi != std::string::npos && semi + 1 < mask.size() ? QChar(mask[semi + 1]) : QChar('_');
        int end = static_cast<int>(shown.size());
        while (end > 0 && (shown[end - 1] == blank || !shown[end - 1].isLetterOrNumber()))
            --end;
        return end;
    }

    bool AllSelected() const
    {
        return line()->hasSelectedText() && line()->selectedText().size() == line()->text().size();
    }

    // Runs a key on the model, only while it agrees this edit has the focus.
    template <class F>
    void Key(F f)
    {
        auto *ws = qtSet();
        if (!ws)
            return;
        TCustomEdit *self = &edit_;
        const bool all = AllSelected();
        ws->Run([self, all, f] {
            TCustomForm *form = self->GetParentForm();
            if (form && form->ActiveControl() != self)
                return;  // the model kept the focus elsewhere
            if (all)
                self->SelectAll();
            f(*self);
        });
    }

    void TypeText(const QString &text)
    {
        std::vector<char32_t> keys;
        for (char32_t ch : text.toUcs4())
            if (ch >= 0x20 && ch != 0x7F)
                keys.push_back(ch);
        if (keys.empty())
            return;
        Key([keys](TCustomEdit &e) {
            for (char32_t k : keys)
                e.TypeKey(k);
        });
    }

    bool Filter(QEvent *ev) override
    {
        switch (ev->type()) {
        case QEvent::KeyPress: {
            auto *ke = static_cast<QKeyEvent *>(ev);
            if (ke->matches(QKeySequence::SelectAll)) {
                Key([](TCustomEdit &e) { e.SelectAll(); });
                line()->selectAll();
                return true;
            }
            if (ke->matches(QKeySequence::Paste)) {
                TypeText(QApplication::clipboard()->text());
                return true;
            }
            switch (ke->key()) {
            case Qt::Key_Delete:
                Key([](TCustomEdit &e) { e.DeleteSelection(); });
                return true;
            case Qt::Key_Backspace:
                if (AllSelected())
                    Key([](TCustomEdit &e) { e.DeleteSelection(); });
                return true;
            case Qt::Key_Left: case Qt::Key_Right: case Qt::Key_Home: case Qt::Key_End:
            case Qt::Key_Return: case Qt::Key_Enter: case Qt::Key_Escape:
                return false;  // moves the caret or belongs to the window, changes no text
            default:
                break;
            }
            if (ke->matches(QKeySequence::Copy))
                return false;
            const Qt::KeyboardModifiers mods = ke->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
            if (mods == Qt::NoModifier && !ke->text().isEmpty())
                TypeText(ke->text());
            return true;  // nothing else may edit behind the model
        }
        case QEvent::InputMethod: {
            auto *im = static_cast<QInputMethodEvent *>(ev);
            TypeText(im->commitString());
            return true;
        }
        case QEvent::Drop:
            return true;
        default:
            return false;
        }
    }

    TCustomEdit &edit_;
};

} // namespace

// ---------------------------------------------------------------- helpers

QColor QtColor(int tcolor)
{
    const QPalette p = QApplication::palette();
    switch (tcolor) {
    case clInfoBk: return QColor(255, 255, 225);  // the classic pale yellow of required fields
    case clWindow: return p.color(QPalette::Base);
    case clWindowText: return p.color(QPalette::Text);
    case clBtnFace: return p.color(QPalette::Window);
    case clScrollBar: return p.color(QPalette::Mid);
    default: break;
    }
    if (tcolor < 0 || tcolor == clNone)
        return p.color(QPalette::Window);
    const unsigned v = static_cast<unsigned>(tcolor);
    return QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF), static_cast<int>((v >> 16) & 0xFF));
}

QFont QtFont(const std::string &name, int size, bool bold)
{
    QFont f = QApplication::font();
    const QString family = qs(name);
    // The classic bitmap sans is nowhere on a desktop; a condensed sans keeps
    // captions inside the boxes drawn for it.
    if (family == "MS Sans Serif" || family.isEmpty()) {
        if (QFontDatabase::hasFamily("DejaVu Sans Condensed"))
            f.setFamily("DejaVu Sans Condensed");
    } else {
        f.setFamily(family);
    }
    if (size > 0)
        f.setPointSize(size);
    f.setBold(bold);
    return f;
}

QString QtCaption(const std::string &caption)
{
    const QString in = qs(caption);
    QString out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '&') {
            if (i + 1 < in.size() && in[i + 1] == '&') {
                out += '&';
                ++i;
            }
            continue;
        }
        out += in[i];
    }
    return out;
}

// ---------------------------------------------------------------- widget set

QtWidgetSet::QtWidgetSet(QMdiArea *area) : area_(area) {}

QtWidgetSet::~QtWidgetSet()
{
    while (busyDepth_ > 0) {
        --busyDepth_;
        QApplication::restoreOverrideCursor();
    }
}

QWidget *QtWidgetSet::WidgetOf(const TControl &control)
{
    auto *p = dynamic_cast<QtPeer *>(control.Peer());
    return p ? p->Widget() : nullptr;
}

QWidget *QtWidgetSet::ContainerOf(const TControl &control)
{
    auto *p = dynamic_cast<QtPeer *>(control.Peer());
    return p ? p->Container() : nullptr;
}

std::unique_ptr<ControlPeer> QtWidgetSet::CreatePeer(TControl &control)
{
    std::unique_ptr<QtPeer> peer;
    if (auto *form = dynamic_cast<TCustomForm *>(&control)) {
        peer = std::make_unique<FormPeer>(*form, area_);
    } else {
        QWidget *parent = control.Parent() ? ContainerOf(*control.Parent()) : nullptr;
        if (!parent)
            return nullptr;  // nothing to show it in
        if (auto *edit = dynamic_cast<TCustomEdit *>(&control))
            peer = std::make_unique<EditPeer>(*edit, parent);
        else if (auto *combo = dynamic_cast<TComboBox *>(&control))
            peer = std::make_unique<ComboPeer>(*combo, parent);
        else if (auto *radio = dynamic_cast<TRadioButton *>(&control))
            peer = std::make_unique<RadioPeer>(*radio, parent);
        else if (dynamic_cast<TGroupBox *>(&control))
            peer = std::make_unique<GroupBoxPeer>(control, parent);
        else if (dynamic_cast<TPanel *>(&control))
            peer = std::make_unique<PanelPeer>(control, parent);
        else if (auto *button = dynamic_cast<TButton *>(&control))
            peer = std::make_unique<ButtonPeer>(*button, parent);
        else if (dynamic_cast<TSpeedButton *>(&control))
            peer = std::make_unique<ToolButtonPeer>(control, parent);
        else if (dynamic_cast<TBevel *>(&control))
            peer = std::make_unique<BevelPeer>(control, parent);
        else if (dynamic_cast<TLabel *>(&control))
            peer = std::make_unique<LabelPeer>(control, parent);
        else
            return nullptr;
    }
    peer->SyncAll();
    // Graphic controls paint on their parent, under its windowed children.
    if (dynamic_cast<TGraphicControl *>(&control))
        peer->Widget()->lower();
    return peer;
}

void QtWidgetSet::AttachMissingPeers(TControl &control)
{
    if (!control.Peer())
        control.AttachPeer(CreatePeer(control));
    if (auto *w = dynamic_cast<TWinControl *>(&control))
        for (TControl *child : w->Controls())
            AttachMissingPeers(*child);
}

void QtWidgetSet::Run(const std::function<void()> &action)
{
    const bool outer = !running_;
    running_ = true;
    if (outer)
        FlushPendingFocus();
    Application->RunUserAction(action);
    if (outer) {
        running_ = false;
        Sync();
    }
}

void QtWidgetSet::Sync()
{
    if (!Application)
        return;
    // Released forms are gone by now; the widgets of the ones left follow the model.
    for (TCustomForm *form : Application->Children()) {
        if (!form->Peer())
            continue;
        AttachMissingPeers(*form);
        std::function<void(TControl &)> sync = [&](TControl &c) {
            if (auto *p = dynamic_cast<QtPeer *>(c.Peer()))
                p->SyncAll();
            if (auto *w = dynamic_cast<TWinControl *>(&c))
                for (TControl *child : w->Controls())
                    sync(*child);
        };
        sync(*form);
    }
    if (TCustomForm *active = Application->ActiveChild()) {
        if (area_)
            if (auto *w = WidgetOf(*active))
                if (auto *sub = qobject_cast<QMdiSubWindow *>(w->parentWidget()); sub && area_->activeSubWindow() != sub) {
                    const bool was = syncingFocus_;
                    syncingFocus_ = true;
                    area_->setActiveSubWindow(sub);
                    syncingFocus_ = was;
                }
        FollowModelFocus(*active);
    }
}

void QtWidgetSet::FocusRequested(TWinControl &control)
{
    pendingFocus_ = WidgetOf(control);
    QTimer::singleShot(0, pendingFocus_, [this] {
        if (!running_)
            Run([] {});
    });
}

void QtWidgetSet::FlushPendingFocus()
{
    QPointer<QWidget> target = pendingFocus_;
    pendingFocus_ = nullptr;
    auto *control = dynamic_cast<TWinControl *>(controlOf(target));
    if (!control)
        return;
    Application->RunUserAction([control] { control->SetFocus(); });
}

void QtWidgetSet::FollowModelFocus(TCustomForm &form)
{
    TWinControl *active = form.ActiveControl();
    QWidget *w = active ? WidgetOf(*active) : nullptr;
    if (!w || pendingFocus_)
        return;
    const bool was = syncingFocus_;
    syncingFocus_ = true;
    if (w->window()->focusWidget() != w || !w->hasFocus()) {
        w->setFocus(moveByTab_ ? Qt::TabFocusReason : Qt::OtherFocusReason);
        if (moveByTab_)
            if (auto *line = qobject_cast<QLineEdit *>(w))
                line->selectAll();  // as a desktop edit entered by Tab
    }
    syncingFocus_ = was;
}

void QtWidgetSet::ShowMessage(const std::string &text, MessageKind kind)
{
    QMessageBox box(kind == MessageKind::Error     ? QMessageBox::Critical
                    : kind == MessageKind::Warning ? QMessageBox::Warning
                                                   : QMessageBox::Information,
                    QApplication::applicationDisplayName(), qs(text), QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

std::optional<int> QtWidgetSet::PickRow(const std::string &title, const PickTable &table)
{
    PickRowDialog dialog(title, table, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Picked();
}

std::optional<int> QtWidgetSet::PickTreeRow(const std::string &title, const PickTable &table,
                                            const std::vector<PickTreeNode> &roots)
{
    PickTreeDialog dialog(title, table, roots, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Picked();
}

std::optional<std::vector<int>> QtWidgetSet::PickRows(const std::string &title, const PickTable &table,
                                                      const std::vector<int> &marked)
{
    PickRowsDialog dialog(title, table, marked, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Checked();
}

std::optional<std::string> QtWidgetSet::PromptText(const std::string &caption, const std::string &prompt,
                                                   const std::string &initial)
{
    bool ok = false;
    const QString text = QInputDialog::getText(QApplication::activeWindow(), qs(caption), qs(prompt),
                                               QLineEdit::Normal, qs(initial), &ok);
    if (!ok)
        return std::nullopt;
    return text.toStdString();
}

void QtWidgetSet::ShowDocument(const std::string &path)
{
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(qs(path))))
        throw Exception("Não foi possível abrir um visualizador de PDF. O relatório foi gravado em '" + path + "'.");
}

void QtWidgetSet::PrintDocument(const std::string &path)
{
    const std::string &command = HostSettings().printCommand;
    QStringList args = QProcess::splitCommand(qs(command));
    if (args.isEmpty())
        throw Exception("Nenhuma impressora configurada (print_command). O relatório foi gravado em '" + path + "'.");
    const QString program = args.takeFirst();
    args << qs(path);
    if (!QProcess::startDetached(program, args))
        throw Exception("Não foi possível imprimir: '" + command + "' não pôde ser executado. O relatório foi gravado em '" +
                        path + "'.");
}

void QtWidgetSet::ShowBusy(bool on)
{
    if (on) {
        if (busyDepth_++ == 0)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (busyDepth_ > 0) {
        if (--busyDepth_ == 0)
            QApplication::restoreOverrideCursor();
    }
}
