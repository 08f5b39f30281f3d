#include "frm/DadosGerRel.h"

#include "dbgeral/DBGeral.h"
#include "hostpkg.h"
#include "rtl/describe.h"
#include "vdl/Consiste.h"

#include <filesystem>
#include <fstream>
#include <sstream>

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

std::string fileNameFor(const std::string &title)
{
    std::string out;
    for (unsigned char c : title)
        out += (std::isalnum(c) || c >= 0x80) ? static_cast<char>(c) : '_';
    return out.empty() ? std::string("relatorio") : out;
}
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

void TfrmDadosGerRel::FormCreate(TObject *)
{
    cbbReportNames->ClearItems();
    try {
        reports_ = LoadReportDefinitions(HostSettings().reportsDir, lblCodRel->Caption());
    } catch (const ReportNotFound &nf) {
        reports_.reset();
        // The screen still opens; it just has no report to run.
        WidgetSet().ShowMessage(FormatText(msgPadrao->Msg("Arq_Rel_Err"), {nf.code, nf.directory}),
                                MessageKind::Error);
        return;
    }
    for (const auto &r : *reports_)
        cbbReportNames->AddItem(r.title);
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
    const std::string dir = HostSettings().reportsDir;
    ReportDefinition report;
    {
        // Read afresh: a layout edited or a file removed since the screen opened counts.
        std::ifstream in(Reports()[static_cast<std::size_t>(index)].file, std::ios::binary);
        if (!in)
            Consiste::MensErro(FormatText(msgPadrao->Msg("Arq_Rel_Err"), {code, dir}), true);
        std::stringstream text;
        text << in.rdbuf();
        report = ParseReportDefinition(text.str(), Reports()[static_cast<std::size_t>(index)].file);
    }
    std::string newTitle;
    if (action == ReportAction::SaveAs) {
        auto answer = WidgetSet().PromptText(msgOrDefault(msgPadrao, "NovoCaption", "Título do relatório"),
                                             msgOrDefault(msgPadrao, "NovoPrompt", "Informe o título do relatório:"),
                                             report.title);
        if (!answer || Consiste::EmptyString(*answer))
            return;
        newTitle = *answer;
    }
    if (dtmDBGeral) {
        rpddPadrao->Dialect = DialectName(dtmDBGeral->Dialect());
        rpddPadrao->QueryRunner = [](const std::string &sql, const NamedValues &params) {
            return dtmDBGeral->Session()->Query(sql, params);
        };
    }
    rpddPadrao->OutputDir = HostSettings().reportOutputDir;
    rpddPadrao->Code = code;
    {
        // The report's own query may take a while on a large period; the
        // cursor comes back however the run ends.
        struct Hourglass {
            TCursor before = Screen->Cursor();
            Hourglass() { Screen->SetCursor(crHourGlass); }
            ~Hourglass() { Screen->SetCursor(before); }
        } hourglass;
        if (!rpddPadrao->Execute(action, report))
            return;
    }
    const std::string &output = rpddPadrao->LastRun()->output;
    if (action == ReportAction::Preview)
        WidgetSet().ShowDocument(output);
    else if (action == ReportAction::Print)
        WidgetSet().PrintDocument(output);
    if (action == ReportAction::SaveAs) {
        const std::string saved = HostSettings().savedReportsDir.empty()
                                      ? (std::filesystem::temp_directory_path() / "fishost-saved").string()
                                      : HostSettings().savedReportsDir;
        std::filesystem::create_directories(saved);
        ReportDefinition copy = report;
        copy.title = newTitle;
        lastSaved_ = (std::filesystem::path(saved) / (fileNameFor(newTitle) + ".json")).string();
        std::ofstream out(lastSaved_, std::ios::binary | std::ios::trunc);
        out << SerializeReportDefinition(copy);
        if (!out)
            throw Exception("Não foi possível gravar o relatório em " + lastSaved_ + ".");
    }
}
