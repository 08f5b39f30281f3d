#include "vcl/forms.h"

#include <algorithm>

// Property names compare by length first.
using namespace std::string_view_literals;

TApplication *Application = nullptr;
TScreen *Screen = nullptr;

TCustomForm::TCustomForm(TComponent *owner) : TWinControl(owner) { SetVisible(false); }

TCustomForm::~TCustomForm()
{
    if (OnDestroy && !IsLoading()) {
        try {
            OnDestroy(this);
        } catch (...) {
            // A destructor must not throw; the form goes anyway.
        }
    }
    if (Application)
        Application->RemoveChild(this);
}

void TCustomForm::RegisterMethods(MethodTable &) {}

void TCustomForm::AfterConstruction()
{
    RegisterMethods(methods_);
    SetLoading(true);
    try {
        BuildForm();
    } catch (...) {
        SetLoading(false);
        throw;
    }
    SetLoading(false);
    if (OnCreate)
        OnCreate(this);
    if (visibleOnCreate_)
        Show();
}

void TCustomForm::LoadFrom(const ComponentDesc &desc) { LoadDescription(*this, desc, methods_); }

void TCustomForm::SetActiveControl(TWinControl *control)
{
    if (!shown_ || IsLoading()) {
        activeControl_ = control;  // remembered until the form is shown
        return;
    }
    FocusControl(control);
}

// One focus move. The exit event of the control that has the focus runs once.
// A move asked for while it runs only changes where this move ends. If the
// exit event raises, the move ends where the event redirected it, or stays.
void TCustomForm::FocusControl(TWinControl *destination)
{
    if (destination && !destination->CanFocus())
        throw EInvalidOperation("Não é possível mover o foco para '" + destination->Name() +
                                "': o controle está desabilitado ou invisível.");
    if (exitRunning_) {
        redirect_ = destination;
        redirected_ = true;
        return;
    }
    if (destination == activeControl_)
        return;

    TWinControl *from = activeControl_;
    redirect_ = destination;
    redirected_ = false;
    if (from && from->OnExit) {
        exitRunning_ = true;
        try {
            from->OnExit(from);
        } catch (...) {
            exitRunning_ = false;
            if (redirected_ && redirect_ != activeControl_) {
                TWinControl *old = activeControl_;
                activeControl_ = redirect_;
                if (old && old->Peer()) old->Peer()->Changed(ControlProperty::Focus);
                if (activeControl_ && activeControl_->Peer()) activeControl_->Peer()->Changed(ControlProperty::Focus);
            }
            throw;
        }
        exitRunning_ = false;
    }
    TWinControl *target = redirect_;
    if (target && !target->CanFocus())
        target = (from && from->CanFocus()) ? from : nullptr;
    if (target == activeControl_)
        return;
    TWinControl *old = activeControl_;
    activeControl_ = target;
    if (old && old->Peer())
        old->Peer()->Changed(ControlProperty::Focus);
    if (target) {
        if (target->Peer())
            target->Peer()->Changed(ControlProperty::Focus);
        if (target->OnEnter)
            target->OnEnter(target);
    }
}

void TCustomForm::DropFocus(TControl *leaving)
{
    for (TControl *c = activeControl_; c; c = c->Parent())
        if (c == leaving) {
            TWinControl *old = activeControl_;
            activeControl_ = nullptr;
            if (old->Peer())
                old->Peer()->Changed(ControlProperty::Focus);
            return;
        }
}

namespace {
void collectFocusOrder(const TWinControl &parent, std::vector<TWinControl *> &out)
{
    for (TWinControl *w : parent.TabList()) {
        if (!w->IsUsable())
            continue;
        if (w->AcceptsFocus()) {
            if (w->IsTabStop())
                out.push_back(w);
        } else {
            collectFocusOrder(*w, out);
        }
    }
}
} // namespace

std::vector<TWinControl *> TCustomForm::FocusOrder() const
{
    std::vector<TWinControl *> out;
    collectFocusOrder(*this, out);
    return out;
}

void TCustomForm::SelectNext(bool forward)
{
    auto order = FocusOrder();
    if (order.empty())
        return;
    auto it = std::find(order.begin(), order.end(), activeControl_);
    std::size_t next;
    if (it == order.end())
        next = forward ? 0 : order.size() - 1;
    else {
        std::size_t i = static_cast<std::size_t>(it - order.begin());
        next = forward ? (i + 1) % order.size() : (i + order.size() - 1) % order.size();
    }
    EnterControl(order[next]);
}

bool TCustomForm::EnterControl(TWinControl *target)
{
    if (!target || !target->CanFocus())
        return false;
    FocusControl(target);
    if (activeControl_ != target)
        return false;
    target->EnteredByKeyboard();
    return true;
}

TControl *TCustomForm::LookupFor(const TWinControl *control) const
{
    if (!control)
        return nullptr;
    for (int i = 0; i < ComponentCount(); ++i)
        if (auto *c = CachedCast<TControl>(Components(i)); c && c->ServedControl() == control && c->IsUsable())
            return c;
    return nullptr;
}

bool TCustomForm::KeyDown(TKey key, TShiftState shift)
{
    TWinControl *focused = activeControl_;
    if (focused && focused->KeyDown(key, shift))
        return true;
    if (key == TKey::Tab && (shift & ~ssShift) == 0) {
        SelectNext((shift & ssShift) == 0);
        return true;
    }
    // Enter goes on to the next field, as in the bookkeeping programs people
    // know; a button takes it first (above).
    if (key == TKey::Enter && shift == ssNone && focused) {
        SelectNext(true);
        return true;
    }
    // The lookup key opens the list of the field that has the focus.
    const bool lookupKey = (key == TKey::F2 && shift == ssNone) || (key == TKey::Down && shift == ssAlt);
    if (lookupKey)
        if (TControl *button = LookupFor(focused)) {
            button->Click();
            return true;
        }
    return false;
}

void TCustomForm::Activate()
{
    if (active_)
        return;
    active_ = true;
    if (activeControl_ && !activeControl_->CanFocus())
        activeControl_ = nullptr;
    if (OnActivate)
        OnActivate(this);
}

void TCustomForm::Deactivate()
{
    if (!active_)
        return;
    active_ = false;
    if (OnDeactivate)
        OnDeactivate(this);
}

void TCustomForm::Show()
{
    if (!shown_) {
        shown_ = true;
        SetVisible(true);
        CreatePeers();
        if (Application)
            Application->AddChild(this);
    }
    if (Application)
        Application->ActivateChild(this);
}

void TCustomForm::Close()
{
    TCloseAction action = formStyle_ == fsMDIChild ? caMinimize : caHide;
    if (OnClose)
        OnClose(this, action);
    switch (action) {
    case caNone:
        break;
    case caHide:
        Deactivate();
        SetVisible(false);
        break;
    case caMinimize:
        SetWindowState(wsMinimized);
        break;
    case caFree:
        Release();
        break;
    }
}

void TCustomForm::Release()
{
    if (releasing_)
        return;
    releasing_ = true;
    if (Application)
        Application->PostMessage([this] { delete this; }, this);
}

void TCustomForm::Refresh()
{
    ++refreshCount_;
    Changed(ControlProperty::State);
}

void TCustomForm::SetWindowState(TWindowState state)
{
    if (windowState_ == state)
        return;
    windowState_ = state;
    Changed(ControlProperty::State);
}

void TCustomForm::CreatePeers()
{
    if (WidgetSet().MakesPeers())
        AttachPeers(*this);
}

void TCustomForm::AttachPeers(TControl &c)
{
    if (!c.Peer())
        c.AttachPeer(WidgetSet().CreatePeer(c));
    if (auto *w = CachedCast<TWinControl>(&c))
        for (TControl *child : w->Controls())
            AttachPeers(*child);
}

bool TCustomForm::SetProperty(const PropertyDesc &p, LoadContext &ctx)
{
    const std::string &n = p.name;
    if (n == "Visible"sv) visibleOnCreate_ = PropBool(p);
    else if (n == "ClientWidth"sv) clientWidth_ = PropInt(p);
    else if (n == "ClientHeight"sv) clientHeight_ = PropInt(p);
    else if (n == "HelpContext"sv) helpContext_ = PropInt(p);
    else if (n == "HelpFile"sv) helpFile_ = PropString(p);
    else if (n == "FormStyle"sv)
        formStyle_ = PropEnum<TFormStyle>(p, {{"fsNormal", fsNormal}, {"fsMDIChild", fsMDIChild}, {"fsMDIForm", fsMDIForm}, {"fsStayOnTop", fsStayOnTop}});
    else if (n == "BorderStyle"sv)
        borderStyle_ = PropEnum<TFormBorderStyle>(
            p, {{"bsSingle", bsSingle}, {"bsSizeable", bsSizeable}, {"bsDialog", bsDialog}, {"bsNone", bsNone}, {"bsToolWindow", bsToolWindow}, {"bsSizeToolWin", bsSizeToolWin}});
    else if (n == "ActiveControl"sv) {
        ctx.Defer(*this, p, [](TComponent &self, const PropertyDesc &prop, LoadContext &c) {
            static_cast<TCustomForm &>(self).activeControl_ = c.FindAs<TWinControl>(prop);
        });
    } else if (n == "OnCreate"sv) ctx.BindEvent(*this, p, OnCreate);
    else if (n == "OnActivate"sv) ctx.BindEvent(*this, p, OnActivate);
    else if (n == "OnDeactivate"sv) ctx.BindEvent(*this, p, OnDeactivate);
    else if (n == "OnClose"sv) ctx.BindEvent(*this, p, OnClose);
    else if (n == "OnDestroy"sv) ctx.BindEvent(*this, p, OnDestroy);
    else return TWinControl::SetProperty(p, ctx);
    return true;
}

void TCustomForm::Notification(TComponent *component)
{
    if (component == activeControl_)
        activeControl_ = nullptr;
    if (component == redirect_)
        redirect_ = nullptr;
}

TCustomForm *TScreen::ActiveForm() const { return Application ? Application->ActiveChild() : nullptr; }

TApplication::TApplication() : TComponent(nullptr) {}

TApplication::~TApplication()
{
    // Forms go first, while the child list they unlink from still exists.
    while (ComponentCount() > 0)
        delete Components(ComponentCount() - 1);
    queue_.clear();
    activeChild_ = nullptr;
}

void TApplication::AddChild(TCustomForm *form)
{
    if (std::find(children_.begin(), children_.end(), form) == children_.end())
        children_.push_back(form);
}

void TApplication::RemoveChild(TCustomForm *form)
{
    children_.erase(std::remove(children_.begin(), children_.end(), form), children_.end());
    // Messages for a destroyed form must never run.
    for (auto &m : queue_)
        if (m.target == form)
            m.run = nullptr;
    if (activeChild_ == form) {
        activeChild_ = nullptr;
        if (!children_.empty())
            ActivateChild(children_.back());
    }
}

void TApplication::ActivateChild(TCustomForm *form)
{
    if (activeChild_ == form) {
        if (form && !form->Active())
            form->Activate();
        return;
    }
    TCustomForm *previous = activeChild_;
    activeChild_ = form;
    if (previous)
        previous->Deactivate();
    if (form) {
        // Activation runs from the window system's message loop: an error in
        // it is shown there and never reaches whoever asked for the window.
        try {
            form->Activate();
        } catch (const EAbort &) {
        } catch (const std::exception &e) {
            ShowException(e);
        }
    }
}

void TApplication::PostMessage(std::function<void()> message, const TComponent *target)
{
    queue_.push_back({std::move(message), target});
}

void TApplication::ProcessMessages()
{
    while (!queue_.empty()) {
        Message m = std::move(queue_.front());
        queue_.pop_front();
        if (m.run)
            m.run();
    }
}

void TApplication::RunUserAction(const std::function<void()> &action)
{
    if (actionDepth_ == 0)
        ++userActions_;
    struct Depth {
        int &depth;
        explicit Depth(int &d) : depth(d) { ++depth; }
        ~Depth() { --depth; }
    } depth(actionDepth_);
    try {
        action();
    } catch (const EAbort &) {
    } catch (const std::exception &e) {
        ShowException(e);
    } catch (...) {
        ShowException(Exception("Erro desconhecido."));
    }
    try {
        ProcessMessages();
    } catch (const EAbort &) {
    } catch (const std::exception &e) {
        ShowException(e);
    }
}

void TApplication::ShowException(const std::exception &e) { WidgetSet().ShowMessage(e.what(), MessageKind::Error); }

void TApplication::Notification(TComponent *component)
{
    if (auto *form = CachedCast<TCustomForm>(component))
        RemoveChild(form);
}

void InitializeApplication()
{
    if (!Application)
        Application = new TApplication();
    if (!Screen)
        Screen = new TScreen(nullptr);
}

void FinalizeApplication()
{
    delete Application;
    Application = nullptr;
    delete Screen;
    Screen = nullptr;
}
