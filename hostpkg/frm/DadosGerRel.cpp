#include "frm/DadosGerRel.h"

#include "dbgeral/DBGeral.h"
#include "hostpkg.h"
#include "rtl/describe.h"
#include "vdl/Consiste.h"

#include "report/report_output.h"
#include "report/reportui.h"

#include <algorithm>
#include <filesystem>

namespace {
using namespace describe;

// The base screen as every report screen starts: the report selector on top
// of the parameter group, the action buttons in the menu panel.
const ComponentDesc &BaseDescription()
{
    static const ComponentDesc form = Inherited(
        "",
        {P("Caption", "Relatórios"), P("ClientWidth", 497), P("ClientHeight", 404), P("FormStyle", "fsMDIChild"),
         P("OnCreate", "FormCreate"), P("OnActivate", "FormActivate"), P("OnClose", "FormClose")},
        {
            C("TPanel", "panMenu", {P("Left", 0), P("Top", 0), P("Width", 497), P("Height", 27)},
              {
                  C("TSpeedButton", "sbtPrint",
                    {P("Left", 2), P("Top", 2), P("Width", 23), P("Height", 22), P("Hint", "Imprimir"),
                     P("ShowHint", true), P("OnClick", "sbtPrintClick")}),
                  C("TSpeedButton", "sbtPreview",
                    {P("Left", 25), P("Top", 2), P("Width", 23), P("Height", 22), P("Hint", "Visualizar"),
                     P("ShowHint", true), P("OnClick", "sbtPreviewClick")}),
                  C("TSpeedButton", "sbtSalvarComo",
                    {P("Left", 48), P("Top", 2), P("Width", 23), P("Height", 22), P("Hint", "Salvar como"),
                     P("ShowHint", true), P("OnClick", "sbtSalvarComoClick")}),
                  C("TSpeedButton", "sbtReportEdit",
                    {P("Left", 71), P("Top", 2), P("Width", 23), P("Height", 22), P("Hint", "Editar relatório"),
                     P("ShowHint", true), P("OnClick", "sbtReportEditClick")}),
                  C("TLabel", "lblCodRel", {P("Left", 440), P("Top", 7), P("Width", 40), P("Height", 13)}),
              }),
            C("TGroupBox", "grbDadosRel", {P("Left", 0), P("Top", 27), P("Width", 497), P("Height", 377)},
              {
                  C("TPanel", "panRelat", {P("Left", 2), P("Top", 15), P("Width", 493), P("Height", 30), P("TabOrder", 0)},
                    {
                        C("TLabel", "lblRelat",
                          {P("Left", 4), P("Top", 8), P("Width", 60), P("Height", 13), P("Caption", "Relatório")}),
                        C("TComboBox", "cbbReportNames",
                          {P("Left", 100), P("Top", 4), P("Width", 380), P("Height", 21),
                           P("Style", "csDropDownList"), P("TabOrder", 0)}),
                    }),
                  C("TBevel", "bvlSeparator", {P("Left", 2), P("Top", 42), P("Width", 493), P("Height", 8)}),
              }),
            C("TLabel", "lblCodTela", {P("Left", 4), P("Top", 388), P("Width", 60), P("Height", 13)}),
            C("TMessages", "msgPadrao", {}),
            C("TMessages", "msgMensagens", {}),
            C("TReportDesignerDialog", "rpddPadrao", {}),
            C("TPopupMenu", "ppmEditReport", {}),
            C("TNetConnection", "netQRDesign", {P("ThrowException", false)}),
        });
    return form;
}

std::string msgOrDefault(const TMessages *m, const char *key, const char *fallback)
{
    std::string text = m ? m->Msg(key) : std::string();
    return text.empty() ? fallback : text;
}

std::string savedReportsDir()
{
    const std::string &configured = HostSettings().savedReportsDir;
    return configured.empty() ? DefaultSavedReportsDir() : configured;
}

// One message for every saved file left out of the list.
std::string SkippedReportsText(const std::vector<SkippedReport> &skipped)
{
    if (skipped.size() == 1)
        return "O relatório salvo " + skipped[0].file + " não pôde ser lido e foi ignorado: " + skipped[0].reason + ".";
    std::string text = "Os relatórios salvos abaixo não puderam ser lidos e foram ignorados:";
    for (const SkippedReport &s : skipped)
        text += "\n" + s.file + ": " + s.reason + ".";
    return text;
}

// Shows the message and ends the person's action.
[[noreturn]] void refuse(const std::string &message) { Consiste::MensErro(message, true); throw EAbort(); }
} // namespace

TfrmDadosGerRel::TfrmDadosGerRel(TComponent *owner) : TForm(owner) {}

void TfrmDadosGerRel::RegisterMethods(MethodTable &m)
{
    TForm::RegisterMethods(m);
    using T = TfrmDadosGerRel;
    m.Add("FormCreate", this, &T::FormCreate);
    m.Add("FormActivate", this, &T::FormActivate);
    m.Add("FormClose", this, &T::FormClose);
    m.Add("sbtPrintClick", this, &T::sbtPrintClick);
    m.Add("sbtPreviewClick", this, &T::sbtPreviewClick);
    m.Add("sbtSalvarComoClick", this, &T::sbtSalvarComoClick);
    m.Add("sbtReportEditClick", this, &T::sbtReportEditClick);
}

void TfrmDadosGerRel::BuildForm()
{
    LoadFrom(BaseDescription());
    BindMember(lblCodTela, "lblCodTela");
    BindMember(panRelat, "panRelat");
    BindMember(lblRelat, "lblRelat");
    BindMember(cbbReportNames, "cbbReportNames");
    BindMember(bvlSeparator, "bvlSeparator");
    BindMember(panMenu, "panMenu");
    BindMember(lblCodRel, "lblCodRel");
    BindMember(sbtPrint, "sbtPrint");
    BindMember(sbtPreview, "sbtPreview");
    BindMember(sbtSalvarComo, "sbtSalvarComo");
    BindMember(sbtReportEdit, "sbtReportEdit");
    BindMember(grbDadosRel, "grbDadosRel");
    BindMember(msgPadrao, "msgPadrao");
    BindMember(msgMensagens, "msgMensagens");
    BindMember(rpddPadrao, "rpddPadrao");
    BindMember(ppmEditReport, "ppmEditReport");
    BindMember(netQRDesign, "netQRDesign");
}

void TfrmDadosGerRel::FormCreate(TObject *) { ListReports(true); }

void TfrmDadosGerRel::ListReports(bool tellMissing)
{
    const std::string selected = cbbReportNames->Text();
    cbbReportNames->ClearItems();
    const std::string code = lblCodRel->Caption();
    ReportList shipped;
    try {
        shipped = LoadReportDefinitions(HostSettings().reportsDir, code);
    } catch (const ReportNotFound &nf) {
        // The screen still opens, with the person's own reports if any.
        if (tellMissing)
            WidgetSet().ShowMessage(FormatText(msgPadrao->Msg("Arq_Rel_Err"), {nf.code, nf.directory}),
                                    MessageKind::Error);
    }
    std::vector<SkippedReport> skipped;
    const ReportList saved = LoadSavedReports(savedReportsDir(), code, &skipped);
    // Told on every open while the file stays broken, never on a relisting
    // after a save, so the person can mend or delete it.
    if (tellMissing && !skipped.empty())
        WidgetSet().ShowMessage(SkippedReportsText(skipped), MessageKind::Warning);
    if (saved->empty())
        reports_ = shipped;  // the shared list as it is, no copy on every open
    else
        reports_ = std::make_shared<const std::vector<ReportDefinition>>(
            MergeSavedReports(shipped ? *shipped : std::vector<ReportDefinition>{}, *saved));
    for (const auto &r : Reports())
        cbbReportNames->AddItem(r.title);
    // A layout the person saved over a delivered report keeps the delivered
    // title (the screen goes by it), so the entry carries the mark instead.
    if (shipped)
        for (std::size_t i = 0; i < Reports().size(); ++i)
            if (Reports()[i].saved &&
                std::any_of(shipped->begin(), shipped->end(),
                            [&](const ReportDefinition &d) { return d.title == Reports()[i].title; }))
                cbbReportNames->SetItemNote(static_cast<int>(i), "Layout alterado");
    if (!selected.empty())
        for (std::size_t i = 0; i < Reports().size(); ++i)
            if (Reports()[i].title == selected)
                cbbReportNames->SetItemIndex(static_cast<int>(i));
}

std::optional<ReportDefinition> TfrmDadosGerRel::ShippedReport(const std::string &title) const
{
    try {
        const ReportList shipped = LoadReportDefinitions(HostSettings().reportsDir, lblCodRel->Caption());
        if (shipped)
            for (const ReportDefinition &r : *shipped)
                if (r.title == title)
                    return ReadReportDefinition(r);
    } catch (const Exception &) {
        // No delivered folder, or the file went: nothing to go back to.
    }
    return std::nullopt;
}

const std::vector<ReportDefinition> &TfrmDadosGerRel::Reports() const
{
    static const std::vector<ReportDefinition> none;
    return reports_ ? *reports_ : none;
}

void TfrmDadosGerRel::FormActivate(TObject *) {}

void TfrmDadosGerRel::FormClose(TObject *, TCloseAction &Action) { Action = caFree; }

void TfrmDadosGerRel::sbtPrintClick(TObject *) { RunSelected(ReportAction::Print); }
void TfrmDadosGerRel::sbtPreviewClick(TObject *) { RunSelected(ReportAction::Preview); }
void TfrmDadosGerRel::sbtSalvarComoClick(TObject *) { RunSelected(ReportAction::SaveAs); }
void TfrmDadosGerRel::sbtReportEditClick(TObject *) { RunSelected(ReportAction::EditLayout); }

void TfrmDadosGerRel::RunSelected(ReportAction action)
{
    const int index = cbbReportNames->ItemIndex();
    if (index < 0 || index >= static_cast<int>(Reports().size()))
        Consiste::MensErro("Nenhum relatório selecionado.", true);
    const std::string code = lblCodRel->Caption();
    ReportDefinition report;
    try {
        // Read afresh: a layout edited or a file removed since the screen opened counts.
        report = ReadReportDefinition(Reports()[static_cast<std::size_t>(index)]);
    } catch (const ReportNotFound &) {
        refuse(FormatText(msgPadrao->Msg("Arq_Rel_Err"), {code, HostSettings().reportsDir}));
    }
    std::string newTitle;
    if (action == ReportAction::SaveAs) {
        auto answer = WidgetSet().PromptText(msgOrDefault(msgPadrao, "NovoCaption", "Título do relatório"),
                                             msgOrDefault(msgPadrao, "NovoPrompt", "Informe o título do relatório:"),
                                             report.title);
        if (!answer || Consiste::EmptyString(*answer))
            return;
        newTitle = Trim(*answer);
        try {
            CheckReportTitle(newTitle);
        } catch (const Exception &e) {
            refuse(e.Message());
        }
    }
    if (dtmDBGeral) {
        rpddPadrao->Dialect = DialectName(dtmDBGeral->Dialect());
        rpddPadrao->Database = dtmDBGeral->Session();
    }
    rpddPadrao->OutputDir = HostSettings().reportOutputDir;
    rpddPadrao->Code = code;
    rpddPadrao->ProductMask = HostSettings().productPicture;
    rpddPadrao->Formats = ParseReportFormats(HostSettings().reportFormats);
    {
        // The report's own query may take a while on a large period; the
        // cursor comes back however the run ends, and before the person
        // is handed the pages.
        struct Hourglass {
            TCursor before = Screen->Cursor();
            bool on = true;
            Hourglass() { Screen->SetCursor(crHourGlass); }
            ~Hourglass() { Off(); }
            void Off()
            {
                if (on)
                    Screen->SetCursor(before);
                on = false;
            }
        } hourglass;
        struct HandOver {
            TReportDesignerDialog *dialog;
            ~HandOver() { dialog->BeforeHandOver = nullptr; }
        } handOver{rpddPadrao};
        rpddPadrao->BeforeHandOver = [&hourglass] { hourglass.Off(); };
        if (!rpddPadrao->Execute(action, report))
            return;
    }
    if (action == ReportAction::EditLayout)
        EditLayout(report);
    else if (action == ReportAction::SaveAs)
        SaveCopy(report, newTitle);
}

void TfrmDadosGerRel::SaveCopy(const ReportDefinition &report, const std::string &title)
{
    const std::string code = lblCodRel->Caption();
    const std::string savedDir = savedReportsDir();
    ReportDefinition copy = report;
    copy.title = title;
    copy.code = code;
    copy.saved = true;
    const bool exists = std::filesystem::exists(SavedReportPath(savedDir, code, title)) ||
                        std::any_of(Reports().begin(), Reports().end(),
                                    [&](const ReportDefinition &r) { return r.title == title; });
    if (exists &&
        !WidgetSet().Confirm("Já existe um relatório com o título '" + title + "'. Deseja substituí-lo?"))
        return;
    try {
        lastSaved_ = SaveReportDefinition(savedDir, copy, exists ? AtomicFile::Replace::Always : AtomicFile::Replace::Never);
    } catch (const EFileExists &) {
        refuse("Já existe um relatório com o título '" + title + "'; ele não foi substituído.");
    } catch (const Exception &e) {
        refuse("O relatório '" + title + "' não foi salvo: " + e.Message());
    }
    ListReports(false);
}

void TfrmDadosGerRel::EditLayout(const ReportDefinition &report)
{
    ReportLayout current;
    try {
        current = ParseLayout(report.layoutJson.empty() ? "{}" : report.layoutJson);
    } catch (const LayoutError &e) {
        refuse("O layout do relatório '" + report.title + "' não pode ser usado: " + e.Message());
    }
    const std::vector<std::string> columns = rpddPadrao->ResultColumns(report);
    LayoutEditRequest request;
    request.title = report.title;
    request.layout = current;
    request.fields = columns;
    // The person's edit of a delivered report can go back to the delivered layout.
    std::optional<ReportDefinition> shipped;
    if (report.saved)
        shipped = ShippedReport(report.title);
    if (shipped)
        try {
            request.original = ParseLayout(shipped->layoutJson.empty() ? "{}" : shipped->layoutJson);
        } catch (const LayoutError &) {
            // A delivered layout that cannot be read is no way back.
        }
    request.previewFirstPage = [this, report](const ReportLayout &layout) {
        return rpddPadrao->RenderFirstPage(report, layout);
    };
    const std::optional<ReportLayout> edited = ReportUserInterface().EditLayout(request);
    try {
        // Without an editor (or when the person cancels) the layout as it
        // stands is checked against what the statement gives.
        if (!columns.empty())  // without a database there is nothing to check against
            CheckLayoutFields(edited ? *edited : current, columns);
        if (edited)
            ParseLayout(SerializeLayout(*edited));
    } catch (const LayoutError &e) {
        refuse(std::string(edited ? "O layout não foi salvo: " : "O layout do relatório '" + report.title +
                                                                    "' não pode ser usado: ") +
               e.Message());
    }
    if (!edited || *edited == current)
        return;
    if (request.original && *edited == *request.original) {
        // Back as delivered: the person's copy goes, the delivered report shows again.
        std::error_code ec;
        if (!std::filesystem::remove(report.file, ec) && ec)
            refuse("O layout original não foi restaurado: " + SystemErrorText(ec.value()) + ".");
        ListReports(false);
        return;
    }
    // The person's copy, in place of the shipped one; the shipped folder stays as delivered.
    ReportDefinition copy = report;
    copy.code = lblCodRel->Caption();
    copy.layoutJson = SerializeLayout(*edited);
    copy.saved = true;
    try {
        lastSaved_ = SaveReportDefinition(savedReportsDir(), copy, AtomicFile::Replace::Always);
    } catch (const Exception &e) {
        refuse("O layout não foi salvo: " + e.Message());
    }
    ListReports(false);
}
