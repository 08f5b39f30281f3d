#pragma once
// Forms, the screen object and the application with its message queue.
#include "vcl/controls.h"
#include "rtl/streaming.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };

using TCloseEvent = std::function<void(TObject *, TCloseAction &)>;

class TCustomForm : public TWinControl {
public:
    explicit TCustomForm(TComponent *owner);
    ~TCustomForm() override;
    const char *ClassName() const override { return "TCustomForm"; }

    // The control that has the focus while the form is active, and that gets
    // it back when the form is activated again.
    TWinControl *ActiveControl() const { return activeControl_; }
    void SetActiveControl(TWinControl *control);
    // The focus move every request goes through; see forms.cpp.
    void FocusControl(TWinControl *destination);
    // Forgets the focus without any event (a disabled control loses it).
    void DropFocus(TControl *leaving);
    // Presses Tab (forward) or Shift+Tab; an edit so entered selects its text.
    void SelectNext(bool forward = true);
    // Moves the focus to `target` as a key does (a caption's Alt+letter):
    // an edit so entered selects its text. False when the focus stayed put.
    bool EnterControl(TWinControl *target);
    // A key pressed in the form: first the focused control's, then Tab,
    // Enter (the next field, as Tab) and the lookup key (F2 or Alt+Down).
    // True when something used it.
    bool KeyDown(TKey key, TShiftState shift) override;
    // The usable control that serves `control` (its lookup button), if any.
    TControl *LookupFor(const TWinControl *control) const;
    std::vector<TWinControl *> FocusOrder() const;

    bool Active() const { return active_; }
    // Called by the host when the form becomes or stops being the active child.
    void Activate();
    void Deactivate();

    void Show();
    void Close();
    // Destroys the form once the messages already queued are handled.
    void Release();
    bool Releasing() const { return releasing_; }
    void Refresh();
    int RefreshCount() const { return refreshCount_; }

    TWindowState WindowState() const { return windowState_; }
    void SetWindowState(TWindowState state);
    TFormStyle FormStyle() const { return formStyle_; }
    TFormBorderStyle BorderStyle() const { return borderStyle_; }
    int ClientWidth() const { return clientWidth_; }
    int ClientHeight() const { return clientHeight_; }
    int HelpContext() const { return helpContext_; }
    const std::string &HelpFile() const { return helpFile_; }

    TNotifyEvent OnCreate;
    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    TCloseEvent OnClose;
    TNotifyEvent OnDestroy;

    const MethodTable &Methods() const { return methods_; }

    // Publishes the methods, builds the form from its descriptions, runs
    // OnCreate and shows the form when its description makes it visible.
    // TApplication::CreateForm calls it once the object is fully constructed,
    // so the derived class's handlers are the ones bound.
    void AfterConstruction();

    bool SetProperty(const PropertyDesc &prop, LoadContext &ctx) override;
    void Notification(TComponent *component) override;

protected:
    // A derived class calls the base, then adds or replaces its own methods.
    virtual void RegisterMethods(MethodTable &methods);
    // A derived class calls the base, then applies its own description.
    virtual void BuildForm() {}
    // Applies a description with the methods published so far.
    void LoadFrom(const ComponentDesc &desc);
    void CreatePeers();

private:
    void AttachPeers(TControl &c);

    TWinControl *activeControl_ = nullptr;
    bool active_ = false;
    bool shown_ = false;
    bool releasing_ = false;
    bool exitRunning_ = false;
    TWinControl *redirect_ = nullptr;
    bool redirected_ = false;
    int refreshCount_ = 0;
    TWindowState windowState_ = wsNormal;
    TFormStyle formStyle_ = fsNormal;
    TFormBorderStyle borderStyle_ = bsSizeable;
    int clientWidth_ = 0, clientHeight_ = 0;
    int helpContext_ = 0;
    std::string helpFile_;
    bool visibleOnCreate_ = false;
    MethodTable methods_;
};

class TForm : public TCustomForm {
public:
    using TCustomForm::TCustomForm;
    const char *ClassName() const override { return "TForm"; }
};

class TScreen : public TComponent {
public:
    using TComponent::TComponent;
    TCursor Cursor() const { return cursor_; }
    void SetCursor(TCursor c) { cursor_ = c; }
    TCustomForm *ActiveForm() const;

private:
    TCursor cursor_ = crDefault;
};

// The application: owns the forms, holds the main window's children and the
// message queue drained after each person's action.
class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    // Creates a form owned by the application; `ref` is set before the form
    // is built, so handlers that run while it is built can already read it.
    template <class T>
    void CreateForm(T *&ref)
    {
        ref = nullptr;
        auto *form = new T(this);
        try {
            ref = form;
            form->AfterConstruction();
        } catch (...) {
            ref = nullptr;
            delete form;
            throw;
        }
    }

    // The main window's children, oldest first, and which one is active.
    const std::vector<TCustomForm *> &Children() const { return children_; }
    TCustomForm *ActiveChild() const { return activeChild_; }
    // Makes `form` the active child (deactivating the one that was).
    void ActivateChild(TCustomForm *form);

    void PostMessage(std::function<void()> message, const TComponent *target = nullptr);
    // Runs every queued message, including ones queued while it runs.
    void ProcessMessages();
    std::size_t PendingMessages() const { return queue_.size(); }

    // Runs a person's action: a silent abort ends it quietly, any other
    // error is shown as a message; then the queue is drained. Never throws.
    void RunUserAction(const std::function<void()> &action);
    // The person's actions begun so far; one run inside another (a dialog's
    // input while a report runs) is part of it and not counted. What failed
    // in one action is tried afresh in the next.
    unsigned long UserActions() const { return userActions_; }
    void ShowException(const std::exception &e);

    void Notification(TComponent *component) override;

private:
    friend class TCustomForm;
    void AddChild(TCustomForm *form);
    void RemoveChild(TCustomForm *form);

    struct Message {
        std::function<void()> run;
        const TComponent *target;
    };
    std::deque<Message> queue_;
    std::vector<TCustomForm *> children_;
    TCustomForm *activeChild_ = nullptr;
    unsigned long userActions_ = 0;
    int actionDepth_ = 0;
};

extern TApplication *Application;
extern TScreen *Screen;

// Creates the application and screen objects (idempotent) / destroys them.
void InitializeApplication();
void FinalizeApplication();
