// The screen as its form description builds it: members, form properties,
// parameter controls, lookup buttons, message table, data sets, connection.
// Every expected value here is written from the screen's documentation.
#include "screen_fixture.h"

#include "data/params.h"
#include "vdl/Messages.h"

#include <optional>
#include <set>
#include <sstream>

namespace {

using Lines = std::vector<std::string>;
using Bindings = std::vector<std::pair<std::string, std::string>>;

// Built, created and shown, but with its activation handler idle: the state
// the description alone gives, before the report catalogue and the product
// masks are applied.
class UnactivatedScreen : public TfrmResumoOficialCfop {
public:
    using TfrmResumoOficialCfop::TfrmResumoOficialCfop;
    void FormActivate(TObject *) override {}
};

class FormDescriptionTest : public ScreenTest {
protected:
    TfrmResumoOficialCfop &Designed()
    {
        UnactivatedScreen *screen = nullptr;
        Application->CreateForm(screen);
        return *screen;
    }
};

template <class T>
T *Find(const TComponent &owner, const std::string &name)
{
    auto *c = dynamic_cast<T *>(owner.FindComponent(name));
    if (!c)
        ADD_FAILURE() << name << " missing or of another class";
    return c;
}

// Events not listed must be unbound.
void ExpectBindings(const TComponent &c, const Bindings &bound, const Lines &events)
{
    for (const auto &event : events) {
        std::string want;
        for (const auto &[e, method] : bound)
            if (event == e)
                want = method;
        EXPECT_EQ(c.BoundMethod(event), want) << c.Name() << "." << event;
    }
}

std::set<std::string> ParamNameSet(const TParams &params)
{
    std::set<std::string> names;
    for (int i = 0; i < params.Count(); ++i)
        names.insert(params.Items(i)->Name);
    return names;
}

const char *const kMembers = R"(
lblEmpresa:TLabel medCdEmpresa:TMaskEdit edtNmEmpresa:TEdit lblCFOP:TLabel medCFOp:TMaskEdit Label2:TLabel
Label3:TLabel depDtInicial:TDateEditPlus depDtFinal:TDateEditPlus Label4:TLabel cbbEntrSaid:TComboBox
lblInscricao:TLabel edtInscricao:TEdit btpInscricao:TBtnPesquisa lblImposto:TLabel medCdImposto:TMaskEdit
btpImposto:TBtnPesquisa edtNmImposto:TEdit qryEmpresa:TADOIBQuery qryEmpresaCDEMPRESA:TADOIBStringField
qryEmpresaNMEMPRESA:TADOIBStringField dtsEmpresa:TDataSource qryImposto:TADOIBQuery dtsInscrEstad:TDataSource
dtsImposto:TDataSource qryImpostoCDIMPOSTONFE:TADOIBStringField qryImpostoSGIMPOSTONFE:TADOIBStringField
qryImpostoIDORGARRECADNFE:TADOIBStringField qryInscrMuni:TADOIBQuery dtsInscrMuni:TDataSource
qryInscrMuniCDINSCMUNI:TADOIBStringField qryPesqInscEsta:TADOIBQuery qryPesqInscEstaCDEMPRESA:TADOIBStringField
qryPesqInscEstaCDINSCESTA:TADOIBStringField qryPesqInscEstaSGESTADO:TADOIBStringField lblProdInic:TLabel
medProdInic:TMaskEdit btnProdInic:TBtnPesquisa edtProdInic:TEdit edtProdFina:TEdit btnProdFin:TBtnPesquisa
medProdFina:TMaskEdit lblProdFina:TLabel dtsProduto:TDataSource qryProduto:TADOIBQuery
qryProdutoCDARVPROD:TADOIBStringField qryProdutoCDPRODUTO:TADOIBStringField qryProdutoNMPRODUTO:TADOIBStringField
qryProdutoCDNVPRODUTO:TADOIBStringField qryValidProd:TADOIBQuery qryValidProdCDARVPROD:TADOIBStringField
qryValidProdCDPRODUTO:TADOIBStringField qryValidProdNMPRODUTO:TADOIBStringField
qryValidProdCDNVPRODUTO:TADOIBStringField lblSerie:TLabel edtCdSerie:TEdit btpSerieNF:TBtnPesquisa
llblNrNota:TLabel lblInscricaoM:TLabel edtInscricaoM:TEdit btpInscricaoM:TBtnPesquisa dtsSerieNF:TDataSource
dtsSerieEntr:TDataSource qrySerieNF:TADOIBQuery qrySerieNFCDSERIE:TADOIBStringField
qrySerieNFDSSERIE:TADOIBStringField qrySerieEntr:TADOIBQuery qrySerieEntrCDSERIEENTR:TADOIBStringField
qrySerieEntrDSSERIEENTR:TADOIBStringField qrySerieEntrTIPO:TADOIBStringField qrySerieNFTIPO:TADOIBStringField
netResumoOficialCfop:TNetConnection cdsSerie:TClientDataSet dtsSerie:TDataSource cdsSerieCDSERIE:TStringField
cdsSerieDSSERIE:TStringField cdsSerieTIPO:TStringField grbTpOperacao:TGroupBox rdbTodosTp:TRadioButton
rdbListaTp:TRadioButton btnTpOperacao:TBtnPesquisa grbModDoc:TGroupBox rdbTodosMod:TRadioButton
rdbListaMod:TRadioButton btnModDoc:TBtnPesquisa qryModDoc:TADOIBQuery qryModDocCDMODDOCFISC:TADOIBStringField
qryModDocDSMODDOCFISC:TADOIBStringField dtsModDoc:TDataSource dtsTpOperacao:TDataSource qrtTpOperacao:TADOIBQuery
qrtTpOperacaoCDTIPOOPER:TADOIBStringField qrtTpOperacaoNMTIPOOPER:TADOIBStringField
qrtTpOperacaoIDENTRSAIDOP:TADOIBStringField qrtTpOperacaoCHAVE:TADOIBStringField lblFiliOrig:TLabel
btnFiliOrig:TBtnPesquisa medFiliOrig:TMaskEdit edtNmFiliOrig:TEdit dtsFiliOrig:TDataSource qryFiliOrig:TADOIBQuery
qryFiliOrigCDFILIAL:TADOIBStringField qryFiliOrigNMFILIAL:TADOIBStringField btpEmpresa:TBtnPesquisa
medNrNotaFisc:TMaskEdit dtsInscrEstadSt:TDataSource cdsInscrEstadSt:TClientDataSet
cdsInscrEstadStCDEMPRESA:TStringField cdsInscrEstadStCDINSCESTAST:TStringField
cdsInscrEstadStCDINSCESTA:TStringField cdsInscrEstadStNRINSJURIEST:TStringField cdsInscrEstadStSGESTADO:TStringField
)";

TEST_F(FormDescriptionTest, PublishedMembersInDeclarationOrder)
{
    std::vector<std::pair<std::string, std::string>> expected;
    std::istringstream in(kMembers);
    for (std::string token; in >> token;) {
        const auto colon = token.find(':');
        expected.emplace_back(token.substr(0, colon), token.substr(colon + 1));
    }
    ASSERT_EQ(expected.size(), 112u);
    EXPECT_EQ(TfrmResumoOficialCfop::PublishedMembers(), expected);

    TfrmResumoOficialCfop &screen = Designed();
    for (const auto &[name, cls] : expected) {
        const TComponent *c = screen.FindComponent(name);
        ASSERT_NE(c, nullptr) << name;
        EXPECT_STREQ(c->ClassName(), cls.c_str()) << name;
    }
    // A label named elsewhere in the documentation that the screen does not have.
    for (const auto &member : TfrmResumoOficialCfop::PublishedMembers())
        EXPECT_NE(member.first, "Label5");
    EXPECT_EQ(screen.FindComponent("Label5"), nullptr);
}

TEST_F(FormDescriptionTest, FormPropertiesAndInheritedChanges)
{
    TfrmResumoOficialCfop &s = Designed();
    EXPECT_EQ(s.Caption(), "Resumo não Oficial de CFOp");
    EXPECT_EQ(s.FormStyle(), fsMDIChild);
    EXPECT_EQ(s.BorderStyle(), bsSingle);
    EXPECT_EQ(s.ClientWidth(), 497);
    EXPECT_EQ(s.ClientHeight(), 404);
    EXPECT_EQ(s.Left(), 480);
    EXPECT_EQ(s.Top(), 216);
    EXPECT_TRUE(s.Visible());
    EXPECT_EQ(s.HelpContext(), 11500900);
    EXPECT_EQ(s.HelpFile(), "FisHelp.Hlp");
    EXPECT_EQ(s.ActiveControl(), s.medCdEmpresa);

    EXPECT_EQ(s.lblCodTela->Caption(), "FIS02800");
    EXPECT_EQ(s.lblCodRel->Caption(), "FIS028");
    EXPECT_EQ(s.lblCodRel->Width(), 34);
    EXPECT_EQ(s.lblCodRel->Parent(), s.panMenu);
    EXPECT_EQ(s.grbDadosRel->Width(), 497);
    EXPECT_EQ(s.grbDadosRel->Height(), 377);
    EXPECT_EQ(s.bvlSeparator->Width(), 493);
    EXPECT_EQ(s.bvlSeparator->Height(), 8);
    EXPECT_EQ(s.panRelat->Width(), 493);
    EXPECT_EQ(s.panMenu->Width(), 497);
    EXPECT_EQ(s.lblRelat->Width(), 55);
    EXPECT_FALSE(s.lblRelat->AutoSize());
    EXPECT_EQ(s.cbbReportNames->Width(), 328);
    EXPECT_EQ(s.cbbReportNames->BoundMethod("OnChange"), "cbbReportNamesChange");
    EXPECT_EQ(s.rpddPadrao->BoundMethod("BeforeGetQueryParams"), "rpddPadraoBeforeGetQueryParams");
}

struct ControlRow {
    const char *name, *cls, *parent;
    const char *caption;  // nullptr: an edit, no caption
    int tabOrder;         // -1: a label
    bool enabled;
    std::optional<TColor> color;
    const char *mask;  // nullptr: not a masked edit
    int maxLength;     // -1: not given
    bool upperCase;
    Bindings handlers;
};

const char *const kDateMask = "99/99/9999;1; ";
const auto kNo = std::nullopt;

const std::vector<ControlRow> kControls = {
    {"lblImposto", "TLabel", "grbDadosRel", "Imposto", -1, true, kNo, nullptr, -1, false, {}},
    {"medCdImposto", "TMaskEdit", "grbDadosRel", nullptr, 1, true, clInfoBk, "!99;0; ", 2, false,
     {{"OnChange", "medCdImpostoChange"}, {"OnExit", "medCdImpostoExit"}}},
    {"edtNmImposto", "TEdit", "grbDadosRel", nullptr, 14, false, clBtnFace, nullptr, -1, false, {}},
    {"lblEmpresa", "TLabel", "grbDadosRel", "Empresa", -1, true, kNo, nullptr, -1, false, {}},
    {"medCdEmpresa", "TMaskEdit", "grbDadosRel", nullptr, 2, true, clInfoBk, "99;0; ", 2, false,
     {{"OnChange", "medCdEmpresaChange"}, {"OnExit", "medCdEmpresaExit"}}},
    {"edtNmEmpresa", "TEdit", "grbDadosRel", nullptr, 15, false, clBtnFace, nullptr, -1, false, {}},
    {"lblInscricao", "TLabel", "grbDadosRel", "Inscr. Estadual", -1, false, kNo, nullptr, -1, false, {}},
    {"edtInscricao", "TEdit", "grbDadosRel", nullptr, 3, false, clWindow, nullptr, 16, false,
     {{"OnChange", "edtInscricaoChange"}, {"OnExit", "edtInscricaoExit"}}},
    {"lblInscricaoM", "TLabel", "grbDadosRel", "Inscr. Municipal", -1, false, kNo, nullptr, -1, false, {}},
    {"edtInscricaoM", "TEdit", "grbDadosRel", nullptr, 4, false, clWindow, nullptr, 16, false,
     {{"OnChange", "edtInscricaoMChange"}, {"OnExit", "edtInscricaoExit"}}},
    {"Label2", "TLabel", "grbDadosRel", "Data Inicial", -1, true, kNo, nullptr, -1, false, {}},
    {"depDtInicial", "TDateEditPlus", "grbDadosRel", nullptr, 5, true, clInfoBk, kDateMask, -1,
     false, {{"OnExit", "depDtInicialExit"}}},
    {"Label3", "TLabel", "grbDadosRel", "Data Final", -1, true, kNo, nullptr, -1, false, {}},
    {"depDtFinal", "TDateEditPlus", "grbDadosRel", nullptr, 6, true, clInfoBk, kDateMask, -1,
     false, {{"OnExit", "depDtFinalExit"}}},
    {"Label4", "TLabel", "grbDadosRel", "Entr./Saída", -1, true, kNo, nullptr, -1, false, {}},
    {"cbbEntrSaid", "TComboBox", "grbDadosRel", nullptr, 7, true, clInfoBk, nullptr, -1, false,
     {{"OnChange", "cbbEntrSaidChange"}}},
    {"lblCFOP", "TLabel", "grbDadosRel", "CFOp", -1, true, kNo, nullptr, -1, false, {}},
    {"medCFOp", "TMaskEdit", "grbDadosRel", nullptr, 8, true, clWindow, "9.999;0; ", 5, false, {}},
    {"lblProdInic", "TLabel", "grbDadosRel", "Produto Inicial", -1, false, kNo, nullptr, -1, false, {}},
    // The product masks come from the host on activation, so none yet.
    {"medProdInic", "TMaskEdit", "grbDadosRel", nullptr, 9, false, clWindow, "", -1, false,
     {{"OnChange", "medProdInicChange"}, {"OnExit", "medProdInicExit"}}},
    {"edtProdInic", "TEdit", "grbDadosRel", nullptr, 19, false, clBtnFace, nullptr, -1, false, {}},
    {"lblProdFina", "TLabel", "grbDadosRel", "Produto Final", -1, false, kNo, nullptr, -1, false, {}},
    {"medProdFina", "TMaskEdit", "grbDadosRel", nullptr, 10, false, clWhite, "", -1, false,
     {{"OnChange", "medProdFinaChange"}, {"OnExit", "medProdFinaExit"}}},
    {"edtProdFina", "TEdit", "grbDadosRel", nullptr, 20, false, clBtnFace, nullptr, -1, false, {}},
    {"lblSerie", "TLabel", "grbDadosRel", "Série", -1, false, kNo, nullptr, -1, false, {}},
    {"edtCdSerie", "TEdit", "grbDadosRel", nullptr, 11, false, clWindow, nullptr, 5, true,
     {{"OnExit", "edtCdSerieExit"}}},
    {"llblNrNota", "TLabel", "grbDadosRel", "Nº NF", -1, false, kNo, nullptr, -1, false, {}},
    {"medNrNotaFisc", "TMaskEdit", "grbDadosRel", nullptr, 12, false, clWindow,
     "99999999999999999999;0; ", 20, false, {{"OnChange", "medFiliOrigChange"}, {"OnExit", "medFiliOrigExit"}}},
    {"lblFiliOrig", "TLabel", "grbDadosRel", "Filial Origem", -1, false, kNo, nullptr, -1, false, {}},
    {"medFiliOrig", "TMaskEdit", "grbDadosRel", nullptr, 13, false, clWindow, ">aaaa;0; ", 4, false,
     {{"OnChange", "medFiliOrigChange"}, {"OnExit", "medFiliOrigExit"}}},
    {"edtNmFiliOrig", "TEdit", "grbDadosRel", nullptr, 27, false, clBtnFace, nullptr, -1, false, {}},
    {"grbTpOperacao", "TGroupBox", "grbDadosRel", " Tp. Operação ", 24, false, kNo, nullptr, -1,
     false, {}},
    {"rdbTodosTp", "TRadioButton", "grbTpOperacao", "Todos", 0, false, kNo, nullptr, -1, false,
     {{"OnClick", "rdbTodosTpClick"}}},
    {"rdbListaTp", "TRadioButton", "grbTpOperacao", "Lista", 1, false, kNo, nullptr, -1, false,
     {{"OnClick", "rdbListaTpClick"}}},
    {"grbModDoc", "TGroupBox", "grbDadosRel", " Modelo Documento ", 25, false, kNo, nullptr, -1,
     false, {}},
    {"rdbTodosMod", "TRadioButton", "grbModDoc", "Todos", 0, false, kNo, nullptr, -1, false,
     {{"OnClick", "rdbTodosModClick"}}},
    {"rdbListaMod", "TRadioButton", "grbModDoc", "Lista", 1, false, kNo, nullptr, -1, false,
     {{"OnClick", "rdbListaModClick"}}},
};

TEST_F(FormDescriptionTest, ParameterControls)
{
    TfrmResumoOficialCfop &s = Designed();
    for (const auto &row : kControls) {
        SCOPED_TRACE(row.name);
        auto *c = Find<TControl>(s, row.name);
        if (!c)
            continue;
        EXPECT_STREQ(c->ClassName(), row.cls);
        ASSERT_NE(c->Parent(), nullptr);
        EXPECT_EQ(c->Parent()->Name(), row.parent);
        if (row.caption) {
            EXPECT_EQ(c->Caption(), row.caption);
        }
        EXPECT_EQ(c->Enabled(), row.enabled);
        if (row.color) {
            EXPECT_EQ(ColorToString(c->Color()), ColorToString(*row.color));
        }
        auto *w = dynamic_cast<TWinControl *>(c);
        EXPECT_EQ(w != nullptr, row.tabOrder >= 0) << "labels take no focus, the rest do";
        if (w && row.tabOrder >= 0) {
            EXPECT_EQ(w->TabOrder(), row.tabOrder);
        }
        if (auto *edit = dynamic_cast<TCustomEdit *>(c)) {
            EXPECT_EQ(edit->Text(), "") << "every edit starts empty";
            if (row.maxLength >= 0) {
                EXPECT_EQ(edit->MaxLength(), row.maxLength);
            }
            EXPECT_EQ(edit->CharCase(), row.upperCase ? ecUpperCase : ecNormal);
        }
        auto *masked = dynamic_cast<TMaskEdit *>(c);
        EXPECT_EQ(masked != nullptr, row.mask != nullptr);
        if (masked && row.mask) {
            EXPECT_EQ(masked->EditMask(), row.mask);
        }
        ExpectBindings(*c, row.handlers, {"OnChange", "OnExit", "OnClick", "OnEnter"});
    }
}

// Positions are the designer's; what matters is that nothing covers
// anything else and every caption stands beside the field it names.
TEST_F(FormDescriptionTest, ControlsFitTheirParentsWithoutOverlapping)
{
    TfrmResumoOficialCfop &s = Designed();
    auto overlap = [](const TControl *a, const TControl *b) {
        return a->Left() < b->Left() + b->Width() && b->Left() < a->Left() + a->Width() &&
               a->Top() < b->Top() + b->Height() && b->Top() < a->Top() + a->Height();
    };
    for (TWinControl *parent : {static_cast<TWinControl *>(s.grbDadosRel), static_cast<TWinControl *>(s.grbTpOperacao),
                                static_cast<TWinControl *>(s.grbModDoc)}) {
        const auto &children = parent->Controls();
        for (std::size_t i = 0; i < children.size(); ++i) {
            const TControl *c = children[i];
            EXPECT_GE(c->Left(), 0) << c->Name();
            EXPECT_GE(c->Top(), 0) << c->Name();
            EXPECT_LE(c->Left() + c->Width(), parent->Width()) << c->Name() << " sticks out of " << parent->Name();
            EXPECT_LE(c->Top() + c->Height(), parent->Height()) << c->Name() << " sticks out of " << parent->Name();
            // A label's box may run under its field (its caption is checked
            // below), and a bevel only draws a line.
            const auto decoration = [](const TControl *x) {
                return dynamic_cast<const TLabel *>(x) || dynamic_cast<const TBevel *>(x);
            };
            for (std::size_t j = i + 1; j < children.size(); ++j)
                if (!decoration(c) && !decoration(children[j])) {
                    EXPECT_FALSE(overlap(c, children[j])) << c->Name() << " covers " << children[j]->Name();
                }
        }
    }

    const std::vector<std::pair<const char *, const char *>> captions = {
        {"lblImposto", "medCdImposto"},  {"lblEmpresa", "medCdEmpresa"}, {"lblInscricao", "edtInscricao"},
        {"lblInscricaoM", "edtInscricaoM"}, {"Label2", "depDtInicial"}, {"Label3", "depDtFinal"},
        {"Label4", "cbbEntrSaid"},        {"lblCFOP", "medCFOp"},         {"lblProdInic", "medProdInic"},
        {"lblProdFina", "medProdFina"},   {"lblSerie", "edtCdSerie"},     {"llblNrNota", "medNrNotaFisc"},
        {"lblFiliOrig", "medFiliOrig"}};
    for (const auto &[label, field] : captions) {
        auto *l = Find<TControl>(s, label);
        auto *f = Find<TControl>(s, field);
        if (!l || !f)
            continue;
        EXPECT_LE(l->Left() + std::min(l->Width(), 60), f->Left()) << label << " is not left of " << field;
        EXPECT_LE(std::abs(l->Top() - f->Top()), 4) << label << " is not on the row of " << field;
    }
}

TEST_F(FormDescriptionTest, FontsTabStopsChecksAndEntryExitItems)
{
    TfrmResumoOficialCfop &s = Designed();
    for (const auto &row : kControls) {
        const std::string cls = row.cls;
        if (cls != "TLabel" && cls != "TGroupBox")
            continue;
        SCOPED_TRACE(row.name);
        auto *c = Find<TControl>(s, row.name);
        if (!c)
            continue;
        const bool product = std::string(row.name) == "lblProdInic" || std::string(row.name) == "lblProdFina";
        EXPECT_EQ(c->Font().Name, "MS Sans Serif");
        EXPECT_EQ(c->Font().Size, product ? 9 : 8);
        EXPECT_TRUE(c->Font().Bold);
        if (cls == "TLabel") {
            EXPECT_EQ(c->AutoSize(), std::string(row.name) == "llblNrNota") << "only the invoice label sizes itself";
        }
    }
    // Radio buttons take over their group box's font.
    for (const char *name : {"rdbTodosTp", "rdbListaTp", "rdbTodosMod", "rdbListaMod"}) {
        auto *r = Find<TRadioButton>(s, name);
        if (!r)
            continue;
        EXPECT_TRUE(r->ParentFont()) << name;
        EXPECT_EQ(r->Font(), r->Parent()->Font()) << name;
        EXPECT_TRUE(r->Font().Bold) << name;
    }

    const std::vector<std::pair<const char *, bool>> tabStops = {
        {"edtProdInic", false}, {"edtProdFina", false}, {"rdbTodosTp", true}, {"rdbTodosMod", true}};
    for (const auto &[name, stop] : tabStops)
        if (auto *w = Find<TWinControl>(s, name)) {
            EXPECT_EQ(w->TabStop(), stop) << name;
        }

    const std::vector<std::pair<const char *, bool>> checks = {
        {"rdbTodosTp", true}, {"rdbListaTp", false}, {"rdbTodosMod", true}, {"rdbListaMod", false}};
    for (const auto &[name, checked] : checks)
        if (auto *r = Find<TRadioButton>(s, name)) {
            EXPECT_EQ(r->Checked(), checked) << name;
        }

    EXPECT_EQ(s.cbbEntrSaid->Items(), (Lines{"Entrada", "Saída", "Ambos"}));
    EXPECT_EQ(s.cbbEntrSaid->Style(), csDropDownList);
    EXPECT_EQ(s.cbbEntrSaid->ItemHeight(), 13);
}

TEST_F(FormDescriptionTest, DateEditsShareTheirSettings)
{
    TfrmResumoOficialCfop &s = Designed();
    for (TDateEditPlus *d : {s.depDtInicial, s.depDtFinal}) {
        SCOPED_TRACE(d->Name());
        EXPECT_EQ(d->EditMask(), kDateMask);
        EXPECT_EQ(ColorToString(d->ValidDateColor), ColorToString(clBlue));
        EXPECT_FALSE(d->SaveTime);
        EXPECT_EQ(d->NomeSemana, (Lines{"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado"}));
    }
}

struct ButtonRow {
    const char *name, *parent, *associate;
    bool enabled;
    const char *title, *dataSource, *emptyError;  // dataSource nullptr: none
    Bindings handlers;
};

std::pair<int, int> OnForm(const TControl &c)
{
    int x = c.Left(), y = c.Top();
    for (const TControl *p = c.Parent(); p && !dynamic_cast<const TCustomForm *>(p); p = p->Parent()) {
        x += p->Left();
        y += p->Top();
    }
    return {x, y};
}

Bindings Pesq(const std::string &button)
{
    return {{"OnBeforePesq", button + "BeforePesq"}, {"OnAfterPesq", button + "AfterPesq"}};
}

TEST_F(FormDescriptionTest, LookupButtons)
{
    const char *const noCompany = "Não há empresa cadastrada.";
    const char *const noProduct = "Não há produto cadastrado.";
    const std::vector<ButtonRow> rows = {
        {"btpImposto", "grbDadosRel", "medCdImposto", true, "Imposto", "dtsImposto",
         "Não há imposto cadastrado.", Pesq("btpImposto")},
        {"btpEmpresa", "", "medCdEmpresa", true, "Empresa", "dtsEmpresa", noCompany,
         Pesq("btpEmpresa")},
        {"btpInscricao", "grbDadosRel", "edtInscricao", false, "Inscrição Estadual", nullptr,
         "Não há inscrição cadastrada para a empresa informada.", Pesq("btpInscricao")},
        {"btpInscricaoM", "grbDadosRel", "edtInscricaoM", false, "Inscrição Municipal",
         "dtsInscrMuni", "Não há inscrição Municipal cadastrada para a empresa informada.", Pesq("btpInscricaoM")},
        {"btnProdInic", "grbDadosRel", "medProdInic", false, "Produto", "dtsProduto", noProduct,
         Pesq("btnProdInic")},
        {"btnProdFin", "grbDadosRel", "medProdFina", false, "Produto", "dtsProduto", noProduct,
         Pesq("btnProdFin")},
        {"btpSerieNF", "grbDadosRel", "edtCdSerie", false, "", "dtsSerieNF", "", Pesq("btpSerieNF")},
        {"btnFiliOrig", "grbDadosRel", "medFiliOrig", false, "", "dtsFiliOrig", noCompany,
         Pesq("btnFiliOrig")},
        {"btnTpOperacao", "grbTpOperacao", "rdbListaTp", false, "", nullptr, "",
         {{"OnClick", "btnTpOperacaoClick"}}},
        {"btnModDoc", "grbModDoc", "rdbListaMod", false, "", nullptr, "",
         {{"OnClick", "btnModDocClick"}}},
    };
    TfrmResumoOficialCfop &s = Designed();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        auto *b = Find<TBtnPesquisa>(s, row.name);
        if (!b)
            continue;
        const std::string parent = row.parent;
        EXPECT_EQ(b->Parent(), parent.empty() ? static_cast<TWinControl *>(&s) : Find<TWinControl>(s, parent));
        EXPECT_EQ(b->Associate, Find<TWinControl>(s, row.associate));
        // Just right of its field, on the field's row, wherever each has its parent.
        if (const TControl *field = b->Associate) {
            const auto [bx, by] = OnForm(*b);
            const auto [fx, fy] = OnForm(*field);
            EXPECT_GE(bx, fx + field->Width());
            EXPECT_LE(bx, fx + field->Width() + 10);
            EXPECT_LE(std::abs(by - fy), 4);
        }
        EXPECT_EQ(b->Enabled(), row.enabled);
        EXPECT_EQ(b->Title, row.title);
        EXPECT_EQ(b->EmptyError, row.emptyError);
        EXPECT_EQ(b->DataSource(), row.dataSource ? Find<TDataSource>(s, row.dataSource) : nullptr);
        EXPECT_EQ(b->Hint(), "Pesquisar");
        EXPECT_FALSE(b->ParentShowHint());
        EXPECT_EQ(dynamic_cast<TWinControl *>(static_cast<TControl *>(b)), nullptr) << "never takes the focus";
        ExpectBindings(*b, row.handlers, {"OnBeforePesq", "OnAfterPesq", "OnClick"});

        const bool product = b == s.btnProdInic || b == s.btnProdFin;
        EXPECT_EQ(b->PesqType, product ? ptArvore : ptLista);
        if (product) {
            EXPECT_EQ(b->FieldNivel, "CDNVPRODUTO");
            EXPECT_EQ(b->FieldCodigo, "CDARVPROD");
            EXPECT_EQ(b->FieldNome, "NMPRODUTO");
            EXPECT_TRUE(b->PesqChave);
        }
    }
}

TEST_F(FormDescriptionTest, ActivationSetsTheProductPictureAndTheTaxFocus)
{
    TfrmResumoOficialCfop &s = Open();
    const std::string picture = "99.99.9999;1;_";  // the host's default product picture
    EXPECT_EQ(s.medProdInic->EditMask(), picture);
    EXPECT_EQ(s.medProdFina->EditMask(), picture);
    EXPECT_EQ(s.qryProdutoCDARVPROD->EditMask, picture);
    EXPECT_EQ(s.ActiveControl(), s.medCdImposto);
}

TEST_F(FormDescriptionTest, MessageTable)
{
    struct Entry {
        const char *key, *text;
        int trailingBlanks;
    };
    const std::vector<Entry> table = {
        {"Arq_Rel_Err",
         "O arquivo contendo a definição do relatório de código '%s' não foi encontrado no diretório '%s'.", 0},
        {"NovoCaption", "Título do relatório", 0},
        {"NovoPrompt", "Informe o título do relatório:", 0},
        {"medCdEmpresa_Inf", "Empresa deve ser informada.", 0},
        {"medCdEmpresa_Cad", "Empresa não cadastrada.", 0},
        {"DtIni_inv", "Data inicial deve ser menor ou igual à data final.", 0},
        {"DtIni_inf", "Data inicial deve ser informada.", 0},
        {"DtFin_inf", "Data final deve ser informada.", 0},
        {"CDIMP_INF", "Imposto deve ser informado.", 0},
        {"CDIMP_INV", "Imposto não cadastrado.", 0},
        {"InscMuni_Inf", "Inscrição municipal deve ser informada.", 2},
        {"InscEsta_Inf", "Inscrição estadual deve ser informada.", 1},
        {"InscMuni_Cad", "Inscrição municipal não cadastrada.", 2},
        {"InscEsta_cad", "Inscrição estadual não cadastrada.", 2},
        {"Prod_N_Cad", "Produto não Cadastrado.", 0},
        {"ModDoc", "Modelo de Documento", 0},
        {"Mod_Inf", "Modelo de documento deve ser informado.", 0},
        {"Tp_Inf", "Tipo de Operação deve ser informado.", 0},
        {"TipoOper", "Tipo de Operação", 0},
        {"nao_ha_tipo", "Não há tipo de operação cadastrado.", 0},
        {"serieNCadEntr", "Não há série cadastrada.", 0},
        {"serieSaid", "Série de Documentos de Saída", 0},
        {"serieNCadSaid", "Não há série cadastrada para a inscrição estadual informada.", 0},
        {"serieEntr", "Série de Documentos de Entrada", 0},
        {"FiliOrig_Cad", "Filial Origem não cadastrada.", 0},
        {"Serie_NCad", "Série informada não cadastrada.", 0},
        {"ProdFina_Inf", "Produto final deve ser informado.", 0},
        {"ProdIni_Inf", "Produto inicial deve ser informado.", 0},
        {"Prod_Maior", "Produto inicial deve ser menor ou igual ao produto final.", 0},
        {"InscEstaSt_cad", "Inscrição Substituto não cadastrada.", 1},
    };
    ASSERT_EQ(table.size(), 30u);
    Lines expected;
    for (const auto &e : table)
        expected.push_back(std::string(e.key) + "|" + e.text + std::string(e.trailingBlanks, ' '));

    TfrmResumoOficialCfop &s = Designed();
    EXPECT_EQ(s.msgPadrao->Messages(), expected);
    for (const auto &e : table)
        EXPECT_EQ(s.msgPadrao->Msg(e.key), e.text + std::string(e.trailingBlanks, ' ')) << e.key;
    EXPECT_EQ(s.msgPadrao->Msg("InscMuni_Cad"), "Inscrição municipal não cadastrada.  ");
    EXPECT_EQ(s.msgPadrao->Msg("InscEstaSt_cad"), "Inscrição Substituto não cadastrada. ");
    // Keys the screen asks for that the table lacks; the host yields "".
    for (const char *missing : {"nao_ha_mod", "qryPesqInscEsta", "qryInscrMuni"})
        EXPECT_EQ(s.msgPadrao->Msg(missing), "") << missing;
}

// The statements themselves run against every engine in the lookup suite;
// here, what every dialect's text must agree on.
struct QueryRow {
    const char *name, *dataSource;  // dataSource nullptr: none
    std::set<std::string> params;
};

const std::vector<QueryRow> kQueries = {
    {"qryImposto", "dtsImposto", {"P_CDIMPOSTO"}},
    {"qryEmpresa", "dtsEmpresa", {"P_EMPRESA"}},
    {"qryPesqInscEsta", "dtsInscrEstad", {"P_EMPRESA", "P_INSCESTA", "P_TINSCESTA"}},
    {"qryInscrMuni", "dtsInscrMuni", {"P_EMPRESA", "P_INSCMUNI", "P_TINSCMUNI"}},
    {"qryProduto", "dtsProduto", {"P_CDPRODUTO", "P_TCDPRODUTO"}},
    {"qryValidProd", nullptr, {"P_CDPRODUTO"}},
    {"qrySerieNF", "dtsSerieNF", {"P_CDINSCESTA", "P_CDINSCMUNI", "P_CDSERIE", "P_CDEMPRESA"}},
    {"qrySerieEntr", "dtsSerieEntr", {"P_CDSERIE"}},
    {"qryModDoc", "dtsModDoc", {}},
    {"qrtTpOperacao", "dtsTpOperacao", {}},
    {"qryFiliOrig", "dtsFiliOrig", {"P_CDFILIAL"}},
};

TEST_F(FormDescriptionTest, QueryStatementsParametersAndSources)
{
    TfrmResumoOficialCfop &s = Designed();
    for (const auto &row : kQueries) {
        SCOPED_TRACE(row.name);
        auto *q = Find<TADOIBQuery>(s, row.name);
        if (!q)
            continue;
        EXPECT_FALSE(q->SQL.empty() && q->SQL_ORACLE.empty() && q->SQL_MSSQL.empty() && q->SQL_IB.empty());
        EXPECT_EQ(ParamNameSet(q->Params()), row.params);
        for (int i = 0; i < q->Params().Count(); ++i) {
            EXPECT_EQ(q->Params().Items(i)->DataType, ftString) << q->Params().Items(i)->Name;
            EXPECT_EQ(q->Params().Items(i)->ParamType, ptUnknown) << q->Params().Items(i)->Name;
        }
        // Every dialect's text takes the same parameters.
        for (const TStrings *text : {&q->SQL, &q->SQL_ORACLE, &q->SQL_MSSQL, &q->SQL_IB})
            if (!text->empty()) {
                TParams parsed;
                parsed.ParseSQL(text->Text());
                EXPECT_EQ(ParamNameSet(parsed), row.params) << text->Text();
            }
        EXPECT_EQ(q->DataSource, row.dataSource ? Find<TDataSource>(s, row.dataSource) : nullptr);
        EXPECT_FALSE(q->Active());
        EXPECT_EQ(q->ADOConnection, "dtmDBGeral.adcGeral");
        EXPECT_EQ(q->DataBase, "dtmDBGeral.dtbGeral");
        EXPECT_EQ(q->Transaction, "dtmDBGeral.ibtGeral");
    }

    const std::vector<std::pair<const char *, const char *>> sources = {
        {"dtsImposto", "qryImposto"},     {"dtsEmpresa", "qryEmpresa"},      {"dtsInscrEstad", "qryPesqInscEsta"},
        {"dtsInscrEstadSt", "cdsInscrEstadSt"}, {"dtsInscrMuni", "qryInscrMuni"}, {"dtsProduto", "qryProduto"},
        {"dtsSerieNF", "qrySerieNF"},     {"dtsSerieEntr", "qrySerieEntr"},  {"dtsSerie", "cdsSerie"},
        {"dtsModDoc", "qryModDoc"},       {"dtsTpOperacao", "qrtTpOperacao"}, {"dtsFiliOrig", "qryFiliOrig"}};
    for (const auto &[source, dataSet] : sources)
        if (auto *d = Find<TDataSource>(s, source)) {
            EXPECT_EQ(d->DataSet, DataSetOf(s.FindComponent(dataSet))) << source;
        }
}

struct FieldRow {
    const char *dataSet, *fieldName;  // the field is named dataSet + fieldName
    int size;
    const char *label;
    bool visible = true, required = false, fixedChar = false;
    int displayWidth = -1;  // -1: not given
};

TEST_F(FormDescriptionTest, DataSetFields)
{
    const std::vector<FieldRow> rows = {
        {"qryImposto", "CDIMPOSTONFE", 2, "Código"}, {"qryImposto", "SGIMPOSTONFE", 10, "Sigla"},
        {"qryImposto", "IDORGARRECADNFE", 1, "", false},
        {"qryEmpresa", "CDEMPRESA", 2, "Código", true, true}, {"qryEmpresa", "NMEMPRESA", 40, "Nome"},
        {"qryPesqInscEsta", "CDEMPRESA", 2, "", false}, {"qryPesqInscEsta", "CDINSCESTA", 16, "Código"},
        {"qryPesqInscEsta", "SGESTADO", 2, "Estado"},
        {"cdsInscrEstadSt", "CDEMPRESA", 2, "", false}, {"cdsInscrEstadSt", "CDINSCESTAST", 16, "Código"},
        {"cdsInscrEstadSt", "CDINSCESTA", 16, "", false}, {"cdsInscrEstadSt", "NRINSJURIEST", 20, "", false},
        {"cdsInscrEstadSt", "SGESTADO", 2, "Estado"},
        {"qryInscrMuni", "CDINSCMUNI", 16, "Código"},
        {"qryProduto", "CDARVPROD", 20, "Código"}, {"qryProduto", "CDPRODUTO", 10, "Código", false, false, false, 10},
        {"qryProduto", "NMPRODUTO", 50, "Nome"}, {"qryProduto", "CDNVPRODUTO", 1, "", false},
        {"qryValidProd", "CDARVPROD", 20, ""}, {"qryValidProd", "CDPRODUTO", 10, ""},
        {"qryValidProd", "NMPRODUTO", 50, ""}, {"qryValidProd", "CDNVPRODUTO", 1, ""},
        {"qrySerieNF", "CDSERIE", 5, "Código", true, true}, {"qrySerieNF", "DSSERIE", 20, "Descrição"},
        {"qrySerieNF", "TIPO", 1, ""},
        {"qrySerieEntr", "CDSERIEENTR", 5, "Código", true, true}, {"qrySerieEntr", "DSSERIEENTR", 20, "Descrição"},
        {"qrySerieEntr", "TIPO", 1, "E/S"},
        {"cdsSerie", "CDSERIE", 5, "Código"}, {"cdsSerie", "DSSERIE", 20, "Descrição"},
        {"cdsSerie", "TIPO", 1, "E/S", true, false, true},
        {"qryModDoc", "CDMODDOCFISC", 2, "Código"}, {"qryModDoc", "DSMODDOCFISC", 40, "Nome"},
        {"qrtTpOperacao", "CDTIPOOPER", 2, "Código"}, {"qrtTpOperacao", "NMTIPOOPER", 30, "Nome"},
        {"qrtTpOperacao", "IDENTRSAIDOP", 1, "Entrada/Saída"}, {"qrtTpOperacao", "CHAVE", 7, "", false},
        {"qryFiliOrig", "CDFILIAL", 4, "Código"}, {"qryFiliOrig", "NMFILIAL", 50, "Nome"},
    };
    TfrmResumoOficialCfop &s = Designed();
    std::vector<std::pair<TDataSet *, Lines>> order;  // field names per data set, as listed
    for (const auto &row : rows) {
        const std::string name = std::string(row.dataSet) + row.fieldName;
        SCOPED_TRACE(name);
        TDataSet *ds = DataSetOf(s.FindComponent(row.dataSet));
        auto *f = Find<TStringField>(s, name);
        if (!f || !ds)
            continue;
        EXPECT_EQ(f->DataSet(), ds);
        EXPECT_EQ(f->FieldName, row.fieldName);
        EXPECT_EQ(f->Size, row.size);
        EXPECT_EQ(f->DisplayLabel, row.label);
        EXPECT_EQ(f->Visible, row.visible);
        EXPECT_EQ(f->Required, row.required);
        EXPECT_EQ(f->FixedChar, row.fixedChar);
        EXPECT_EQ(f->EditMask, "") << "the product picture comes on activation";
        if (row.displayWidth >= 0) {
            EXPECT_EQ(f->DisplayWidth, row.displayWidth);
        }
        if (order.empty() || order.back().first != ds)
            order.push_back({ds, {}});
        order.back().second.push_back(row.fieldName);
    }
    // The lookup lists show the fields in the data set's order.
    ASSERT_EQ(order.size(), 13u);
    for (const auto &[ds, names] : order) {
        Lines actual;
        for (TField *f : ds->Fields())
            actual.push_back(f->FieldName);
        EXPECT_EQ(actual, names) << ds->Name();
    }
}

TEST_F(FormDescriptionTest, ApplicationServerConnection)
{
    TfrmResumoOficialCfop &s = Designed();
    EXPECT_EQ(s.netResumoOficialCfop->ServerName, "FIS02800.rdmCriaResumoNOficialCFOp");
    EXPECT_FALSE(s.netResumoOficialCfop->ThrowException);
    EXPECT_EQ(s.netResumoOficialCfop->BoundMethod("BeforeConnect"), "netResumoOficialCfopBeforeConnect");
}

} // namespace
