// The desktop widget set: the peer factory table, the person's actions and
// focus, and the dialogs. The peers themselves live in one file per family.
#include "qtwidgetset.h"

#include "hostpkg.h"
#include "pickdialogs.h"
#include "qtpeer.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"
#include "vdl/BtnPesquisa.h"
#include "vdl/DateEditPlus.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QFrame>
#include <QInputDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QStyle>
#include <QTimer>
#include <QTranslator>
#include <QUrl>

#include <algorithm>
#include <clocale>
#include <typeindex>
#include <unordered_map>
#include <vector>

namespace {

// Which family shows a control: the first entry its class derives from, so
// a derived class comes before its base. Looked up once per class.
struct PeerEntry {
    bool (*is)(TControl &);
    PeerFactory make;
};
template <class T>
bool Is(TControl &c)
{
    return dynamic_cast<T *>(&c) != nullptr;
}
const PeerEntry kPeerTable[] = {
    {Is<TCustomForm>, MakeFormPeer},       {Is<TDateEditPlus>, MakeDateEditPeer},
    {Is<TCustomEdit>, MakeEditPeer},       {Is<TComboBox>, MakeComboPeer},
    {Is<TRadioButton>, MakeRadioPeer},     {Is<TGroupBox>, MakeGroupBoxPeer},
    {Is<TPanel>, MakePanelPeer},           {Is<TButton>, MakeButtonPeer},
    {Is<TSpeedButton>, MakeToolButtonPeer}, {Is<TBevel>, MakeBevelPeer},
    {Is<TLabel>, MakeLabelPeer},
};

PeerFactory FactoryFor(TControl &control)
{
    static std::unordered_map<std::type_index, PeerFactory> byClass;
    const std::type_index type(typeid(control));
    if (auto it = byClass.find(type); it != byClass.end())
        return it->second;
    PeerFactory found = nullptr;
    for (const PeerEntry &e : kPeerTable)
        if (e.is(control)) {
            found = e.make;
            break;
        }
    byClass.emplace(type, found);
    return found;
}

// The mark around the control that has the focus, the same for every kind
// of control (a pick-only combo box shows none of its own).
class FocusRing : public QWidget {
public:
    FocusRing()
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }
    void Around(QWidget *target)
    {
        if (!target || !target->parentWidget()) {
            hide();
            return;
        }
        if (parentWidget() != target->parentWidget())
            setParent(target->parentWidget());
        setGeometry(target->geometry().adjusted(-2, -2, 2, 2));
        raise();
        show();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor c = palette().color(QPalette::Highlight);
        p.setPen(QPen(c, 2));
        p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 3, 3);
    }
};

// The sub-window a form's widget is in (a fixed screen sits in a scroller).
QMdiSubWindow *SubWindowOf(QWidget *w)
{
    for (QWidget *p = w ? w->parentWidget() : nullptr; p; p = p->parentWidget())
        if (auto *sub = qobject_cast<QMdiSubWindow *>(p))
            return sub;
    return nullptr;
}

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
        // A bitmap font has a few sizes and draws a size between them at the
        // one below: a 9-point caption looks like its 8-point neighbours.
        int drawn = size;
        for (int s : {8, 10, 12, 14, 18, 24})
            if (s <= size)
                drawn = s;
        size = drawn;
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

void PreparePortugueseLocale()
{
    // Qt reads its system locale from these; the C library, should the
    // machine lack the locale, keeps its own.
    // LC_ALL would override them; what it said of the rest stays.
    const QByteArray all = qgetenv("LC_ALL");
    if (!all.isEmpty()) {
        for (const char *name : {"LC_CTYPE", "LC_NUMERIC", "LC_COLLATE", "LC_MONETARY"})
            if (!qEnvironmentVariableIsSet(name))
                qputenv(name, all);
        qunsetenv("LC_ALL");
    }
    qputenv("LC_TIME", "pt_BR.UTF-8");
    qputenv("LC_MESSAGES", "pt_BR.UTF-8");
    qputenv("LANGUAGE", "pt_BR:pt");
}

void UsePortugueseTexts()
{
    // QApplication took the environment's locale into the C library: numbers
    // keep their point there.
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    static QTranslator *texts = nullptr;
    if (texts)
        return;
    texts = new QTranslator(qApp);
    if (texts->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(texts);
}

// ---------------------------------------------------------------- widget set

QtWidgetSet::QtWidgetSet(QMdiArea *area) : area_(area) {}

QtWidgetSet::~QtWidgetSet()
{
    delete ring_.data();
    delete busy_.data();
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
    PeerFactory make = FactoryFor(control);
    if (!make)
        return nullptr;
    const bool form = dynamic_cast<TCustomForm *>(&control) != nullptr;
    QWidget *parent = control.Parent() ? ContainerOf(*control.Parent()) : nullptr;
    if (!form && !parent)
        return nullptr;  // nothing to show it in
    std::unique_ptr<QtPeer> peer = make(control, parent, *this);
    peer->SyncAll();
    // Graphic controls paint on their parent, under its windowed children;
    // a button among them must take its clicks, so it lies on top of a group
    // box drawn over it instead.
    if (dynamic_cast<TSpeedButton *>(&control))
        peer->Widget()->raise();
    else if (dynamic_cast<TGraphicControl *>(&control))
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
    if (outer) {
        messageShown_ = false;
        FlushPendingFocus();
    }
    Application->RunUserAction(action);
    if (outer) {
        running_ = false;
        // After a message the focus is back on the field to correct: all of
        // its text selected, or what is typed next would be dropped at the end.
        if (messageShown_ && Application)
            if (TCustomForm *form = Application->ActiveChild())
                if (auto *edit = dynamic_cast<TCustomEdit *>(form->ActiveControl()))
                    Application->RunUserAction([edit] { edit->SelectAll(); });
        messageShown_ = false;
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
        if (QWidget *w = WidgetOf(*form); w && !w->property("fisAccelerators").toBool()) {
            w->setProperty("fisAccelerators", true);
            AssignAccelerators(*form, acceleratorsTaken_);
        }
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
                if (auto *sub = SubWindowOf(w); sub && area_->activeSubWindow() != sub) {
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
    auto *control = dynamic_cast<TWinControl *>(ControlOf(target));
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
    if (w->window()->focusWidget() != w || !w->hasFocus())
        w->setFocus(moveByTab_ ? Qt::TabFocusReason : Qt::OtherFocusReason);
    if (!ring_)
        ring_ = new FocusRing;
    static_cast<FocusRing *>(ring_.data())->Around(w);
    syncingFocus_ = was;
}

QWidget *QtWidgetSet::FocusMark() const { return ring_.data(); }

void QtWidgetSet::ShowMessage(const std::string &text, MessageKind kind)
{
    messageShown_ = true;
    ShowMessageBox(text, kind);
}

void QtWidgetSet::ShowMessageBox(const std::string &text, MessageKind kind)
{
    QMessageBox box(kind == MessageKind::Error     ? QMessageBox::Critical
                    : kind == MessageKind::Warning ? QMessageBox::Warning
                                                   : QMessageBox::Information,
                    QApplication::applicationDisplayName(), qs(text), QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

std::string QtWidgetSet::ListTitle(const std::string &title) const
{
    // A list the model leaves untitled is named after the field it fills.
    if (title != "Pesquisar" || !Application)
        return title;
    TCustomForm *form = Application->ActiveChild();
    TWinControl *field = form ? form->ActiveControl() : nullptr;
    const QString caption = field ? CaptionOf(*field) : QString();
    return caption.isEmpty() ? title : caption.toStdString();
}

std::optional<int> QtWidgetSet::PickRow(const std::string &title, const PickTable &table)
{
    PickRowDialog dialog(ListTitle(title), table, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Picked();
}

std::optional<int> QtWidgetSet::PickTreeRow(const std::string &title, const PickTree &tree)
{
    PickTreeDialog dialog(ListTitle(title), tree, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Picked();
}

std::optional<std::vector<int>> QtWidgetSet::PickRows(const std::string &title, const PickTable &table,
                                                      const std::vector<int> &marked)
{
    PickRowsDialog dialog(ListTitle(title), table, marked, QApplication::activeWindow());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.Checked();
}

std::optional<std::string> QtWidgetSet::PromptText(const std::string &caption, const std::string &prompt,
                                                   const std::string &initial)
{
    QInputDialog dialog(QApplication::activeWindow());
    ConfigurePrompt(dialog, caption, prompt, initial);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue().toStdString();
}

void ConfigurePrompt(QInputDialog &dialog, const std::string &caption, const std::string &prompt,
                     const std::string &initial)
{
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(qs(caption));
    dialog.setLabelText(qs(prompt));
    dialog.setTextValue(qs(initial));
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("Cancelar"));
    // Wide enough for its title in the frame and for a long report title.
    const QFontMetrics metrics(dialog.font());
    const int wanted = std::max({460, metrics.horizontalAdvance(qs(caption)) + 200,
                                 metrics.horizontalAdvance(qs(initial)) + 120});
    // The dialog's layout sets its size from its parts: the text box asks for the room.
    if (auto *line = dialog.findChild<QLineEdit *>())
        line->setMinimumWidth(std::min(wanted, 900) - 2 * dialog.style()->pixelMetric(QStyle::PM_LayoutLeftMargin));
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
        throw Exception("Não há impressora configurada. O relatório foi gravado em '" + path + "'.");
    const QString program = args.takeFirst();
    args << qs(path);
    if (!QProcess::startDetached(program, args))
        throw Exception("Não foi possível enviar o relatório à impressora. O relatório foi gravado em '" + path + "'.");
}

void QtWidgetSet::ShowBusy(bool on)
{
    if (on) {
        if (busyDepth_++ > 0)
            return;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        // The work runs on this thread: show the notice and paint it now,
        // since nothing repaints until the work is done.
        QWidget *over = QApplication::activeWindow();
        if (!busy_) {
            auto *notice = new QLabel(QString::fromUtf8("Carregando, aguarde…"), over, Qt::ToolTip);
            notice->setMargin(12);
            notice->setFrameStyle(QFrame::Panel | QFrame::Raised);
            busy_ = notice;
        }
        busy_->adjustSize();
        if (over)
            busy_->move(over->geometry().center() - busy_->rect().center());
        busy_->show();
        busy_->repaint();
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    } else if (busyDepth_ > 0) {
        if (--busyDepth_ > 0)
            return;
        if (busy_)
            busy_->hide();
        QApplication::restoreOverrideCursor();
    }
}
