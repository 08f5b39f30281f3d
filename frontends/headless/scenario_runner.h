#pragma once
// The scenario runner: one file's lines run against the screen in a host of
// their own. Its words live apart: reading the line and the tables of words
// (scenario.cpp), what a person does (scenario_commands.cpp) and what must
// hold (scenario_expectations.cpp).
#include "scenario.h"

#include "data/sqlquery.h"
#include "hostsetup.h"
#include "report/headless_reportui.h"
#include "report/qrddlgs.h"
#include "rtl/utf8.h"
#include "vcl/forms.h"
#include "vcl/headless.h"
#include "vcl/stdctrls.h"
#include "vdl/BtnPesquisa.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>

namespace scenario {
inline const char *const kScreenClass = "TfrmResumoOficialCfop";
inline const char *const kScreenName = "frmResumoOficialCfop";

// A line that does not hold; the runner reports it and stops the file.
class LineFailure : public Exception {
    using Exception::Exception;
};

[[noreturn]] inline void fail(const std::string &message) { throw LineFailure(message); }

inline std::string quote(const std::string &s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

class Runner {
public:
    Runner(std::string name, const ScenarioOptions &options) : name_(std::move(name)), options_(options) {}

    ScenarioResult Run(const std::string &text);

private:
    // --- the screen and its controls -----------------------------------
    TCustomForm *Screen() const;
    int ScreenCount() const;
    TCustomForm &RequireScreen() const;
    TComponent &Find(const std::string &name) const;
    template <class T>
    T &FindAs(const std::string &name, const char *what) const
    {
        T *t = dynamic_cast<T *>(&Find(name));
        if (!t)
            fail(name + " is not " + what);
        return *t;
    }
    // A person can only act on what is enabled, visible and not inside a disabled group.
    TControl &Usable(const std::string &name) const;
    void RequireBuilt(TComponent &c, const std::string &event) const;

    // --- a person's action ---------------------------------------------
    void Person(const std::function<void()> &action);
    // Clicks into a control; true when it has the focus afterwards.
    bool FocusInto(const std::string &name);

    // --- commands ------------------------------------------------------
    static const std::string &Arg(const std::vector<ScenarioWord> &w, std::size_t i, const char *what);
    static const std::string &Quoted(const std::vector<ScenarioWord> &w, std::size_t i, const char *what);
    static void NoMore(const std::vector<ScenarioWord> &w, std::size_t n);
    static bool YesNo(const std::vector<ScenarioWord> &w, std::size_t i);

public:
    using Words = std::vector<ScenarioWord>;
    // A word of the language: its name, its arguments as --help shows them,
    // what it does, and the handler that reads the rest of the line.
    struct Verb {
        const char *name;
        const char *arguments;
        const char *meaning;
        void (Runner::*run)(const Words &);
    };
    static const std::vector<Verb> &Commands();
    static const std::vector<Verb> &Expectations();

private:
    static const Verb *Lookup(const std::vector<Verb> &verbs, const std::string &name);

    void Execute(const Words &w);

    // --- commands: what a person does (scenario_commands.cpp) -----------
    void Open(const Words &w);
    void Activate(const Words &w);
    void CloseScreen(const Words &w);
    void Report(const Words &w);
    void Choose(const Words &w);
    void PickFrom(const std::string &control, const std::string &item);
    void Focus(const Words &w);
    void Type(const Words &w);
    void Tab(const Words &w);
    void Key(const Words &w);
    void ClickControl(const Words &w);
    void PickOne(const Words &w);
    void PickList(const Words &w);
    void Mark(const Words &w);
    void Answer(const Words &w);

    void Pick(TControl &button, PickAnswer answer);

    // "Down", "Shift+Tab", "Alt+Down", "Ctrl+A", "F2".
    static std::optional<std::pair<TKey, TShiftState>> ParseKey(const std::string &name);

    // --- expectations: what must hold (scenario_expectations.cpp) -------
    static void Check(bool ok, const std::string &expected, const std::string &got);
    void Expect(const Words &w);
    // "expect WHAT CONTROL "TEXT"": what `read` gives for the control must be
    // TEXT; `argument` names TEXT when it is missing.
    void ExpectQuoted(const Words &w, const char *what, const char *argument,
                      const std::function<std::string(const std::string &)> &read);
    void ExpectMessage(const Words &w);
    void ExpectNoMessage(const Words &w);
    void ExpectFocus(const Words &w);
    void ExpectText(const Words &w);
    void ExpectEnabled(const Words &w);
    void ExpectChecked(const Words &w);
    void ExpectCaption(const Words &w);
    void ExpectHint(const Words &w);
    void ExpectColor(const Words &w);
    void ExpectSelected(const Words &w);
    void ExpectTitle(const Words &w);
    void ExpectGlobal(const Words &w);
    void ExpectScreens(const Words &w);
    void ExpectReport(const Words &w);
    void ExpectQueries(const Words &w);
    void ExpectParam(const Words &w);

    // The report files in a folder, by path.
    static std::set<std::string> filesIn(const std::string &dir);

    std::string name_;
    const ScenarioOptions &options_;
    std::string outputDir_;
    std::set<std::string> before_;
    std::unique_ptr<HostRun> host_;
    HeadlessWidgetSet *ws_ = nullptr;
    TForm *other_ = nullptr;
    long queryMark_ = 0;
    bool reportRan_ = false;
};
} // namespace scenario
