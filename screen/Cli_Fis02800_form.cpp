// Design-time description of the CFOP summary screen: its controls, message
// table, data sets and application-server connection.
#include "Cli_Fis02800_form.h"

#include "rtl/describe.h"

#include <utility>
#include <vector>

namespace {
using namespace describe;

using Props = std::vector<PropertyDesc>;

Props operator+(Props a, const Props &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Parameter labels share one font; only the size and auto sizing vary.
ComponentDesc Label(const char *name, const char *caption, int left, int top, int width, bool enabled,
                    int fontSize = 8, bool autoSize = false)
{
    return C("TLabel", name,
             {P("Left", left), P("Top", top), P("Width", width), P("Height", 21), P("Caption", caption),
              P("Enabled", enabled), P("AutoSize", autoSize), P("Font.Name", "MS Sans Serif"),
              P("Font.Size", fontSize), P("Font.Bold", true)});
}

// Lookup buttons never take the focus and all carry the same hint and picture.
ComponentDesc LookupButton(const char *name, const char *associate, int left, int top, int height, bool enabled,
                           Props own)
{
    return C("TBtnPesquisa", name,
             Props{P("Left", left), P("Top", top), P("Width", 21), P("Height", height), P("Enabled", enabled),
                   P("Hint", "Pesquisar"), P("ShowHint", true), P("ParentShowHint", false), P("NumGlyphs", 2),
                   P("Glyph", "search16x2"), P("Associate", associate)} +
                 own);
}

// What a multi-pick list holds, beside its button; filled by the screen.
ComponentDesc TickedLabel(const char *name, int left, int top, int width)
{
    return C("TLabel", name,
             {P("Left", left), P("Top", top), P("Width", width), P("Height", 13), P("Caption", ""), P("AutoSize", false),
              P("ParentFont", false), P("Font.Name", "MS Sans Serif"), P("Font.Size", 8), P("Font.Bold", false),
              P("ShowHint", true)});
}

// Read-only client-side settings shared by every query of the screen.
ComponentDesc Query(const char *name, const char *dataSource, Props statement)
{
    Props props = std::move(statement);
    if (dataSource)
        props.push_back(P("DataSource", dataSource));
    return C("TADOIBQuery", name,
             props + Props{P("ADOConnection", "dtmDBGeral.adcGeral"), P("DataBase", "dtmDBGeral.dtbGeral"),
                           P("Transaction", "dtmDBGeral.ibtGeral"), P("ADOCursorLocation", "clUseClient"),
                           P("ADOCursorType", "ctKeyset"), P("ADOLockType", "ltReadOnly"),
                           P("ADOCacheSize", 1), P("ADOMaxRecords", 0), P("ADOMarshalOptions", "moMarshalAll"),
                           P("ADOEnableBCD", false), P("ADOFiltered", false), P("ADOPrepared", false),
                           P("ParamCheck", true), P("AutoCalcFields", true), P("CachedUpdates", false),
                           P("ObjectView", false), P("Active", false)});
}

ComponentDesc Field(const char *name, const char *dataSet, const char *fieldName, int size, Props own = {})
{
    return C("TADOIBStringField", name,
             Props{P("DataSet", dataSet), P("FieldName", fieldName), P("Size", size)} + own);
}

ComponentDesc ClientField(const char *name, const char *dataSet, const char *fieldName, int size, Props own = {})
{
    return C("TStringField", name, Props{P("DataSet", dataSet), P("FieldName", fieldName), P("Size", size)} + own);
}

ComponentDesc Source(const char *name, const char *dataSet)
{
    return C("TDataSource", name, {P("DataSet", dataSet)});
}

ComponentDesc DateEdit(const char *name, int left, int tabOrder, const char *onExit)
{
    return C("TDateEditPlus", name,
             {P("Left", left), P("Top", 151), P("Width", 100), P("Height", 21), P("TabOrder", tabOrder),
              P("Color", "clInfoBk"), P("ValidDateColor", "clBlue"), P("SaveTime", false),
              P("NomeSemana", {"Domingo", "Segunda", "Terça", "Quarta", "Quinta", "Sexta", "Sábado"}),
              P("Glyph", "calendar16"), P("OnExit", onExit)});
}

// The two product buttons pick from the product tree.
Props ProductTree()
{
    return {P("Title", "Produto"), P("DataSource", "dtsProduto"), P("EmptyError", "Não há produto cadastrado."),
            P("PesqType", "ptArvore"), P("FieldNivel", "CDNVPRODUTO"), P("FieldCodigo", "CDARVPROD"),
            P("FieldNome", "NMPRODUTO"), P("PesqChave", true)};
}

std::vector<ComponentDesc> ParameterControls()
{
    return {
        // Tax
        Label("lblImposto", "Imposto", 6, 54, 72, true),
        C("TMaskEdit", "medCdImposto",
          {P("Left", 100), P("Top", 51), P("Width", 25), P("Height", 21), P("TabOrder", 1), P("Color", "clInfoBk"),
           P("EditMask", "!99;0; "), P("MaxLength", 2), P("OnChange", "medCdImpostoChange"),
           P("OnExit", "medCdImpostoExit")}),
        LookupButton("btpImposto", "medCdImposto", 129, 51, 21, true,
                     {P("Title", "Imposto"), P("DataSource", "dtsImposto"),
                      P("EmptyError", "Não há imposto cadastrado."), P("OnBeforePesq", "btpImpostoBeforePesq"),
                      P("OnAfterPesq", "btpImpostoAfterPesq")}),
        C("TEdit", "edtNmImposto",
          {P("Left", 154), P("Top", 51), P("Width", 317), P("Height", 21), P("TabOrder", 14), P("Enabled", false),
           P("Color", "clBtnFace")}),
        // Company
        Label("lblEmpresa", "Empresa", 6, 79, 53, true),
        C("TMaskEdit", "medCdEmpresa",
          {P("Left", 100), P("Top", 76), P("Width", 25), P("Height", 21), P("TabOrder", 2), P("Color", "clInfoBk"),
           P("EditMask", "99;0; "), P("MaxLength", 2), P("OnChange", "medCdEmpresaChange"),
           P("OnExit", "medCdEmpresaExit")}),
        C("TEdit", "edtNmEmpresa",
          {P("Left", 154), P("Top", 76), P("Width", 317), P("Height", 21), P("TabOrder", 15), P("Enabled", false),
           P("Color", "clBtnFace")}),
        // State registration
        Label("lblInscricao", "Inscr. Estadual", 5, 104, 90, false),
        C("TEdit", "edtInscricao",
          {P("Left", 100), P("Top", 101), P("Width", 190), P("Height", 21), P("TabOrder", 3), P("Enabled", false),
           P("Color", "clWindow"), P("MaxLength", 16), P("OnChange", "edtInscricaoChange"),
           P("OnExit", "edtInscricaoExit")}),
        LookupButton("btpInscricao", "edtInscricao", 296, 101, 21, false,
                     {P("Title", "Inscrição Estadual"),
                      P("EmptyError", "Não há inscrição cadastrada para a empresa informada."),
                      P("OnBeforePesq", "btpInscricaoBeforePesq"), P("OnAfterPesq", "btpInscricaoAfterPesq")}),
        // Municipal registration
        Label("lblInscricaoM", "Inscr. Municipal", 6, 129, 90, false),
        C("TEdit", "edtInscricaoM",
          {P("Left", 100), P("Top", 126), P("Width", 190), P("Height", 21), P("TabOrder", 4), P("Enabled", false),
           P("Color", "clWindow"), P("MaxLength", 16), P("OnChange", "edtInscricaoMChange"),
           P("OnExit", "edtInscricaoExit")}),
        LookupButton("btpInscricaoM", "edtInscricaoM", 296, 126, 21, false,
                     {P("Title", "Inscrição Municipal"), P("DataSource", "dtsInscrMuni"),
                      P("EmptyError", "Não há inscrição Municipal cadastrada para a empresa informada."),
                      P("OnBeforePesq", "btpInscricaoMBeforePesq"), P("OnAfterPesq", "btpInscricaoMAfterPesq")}),
        // Dates
        Label("Label2", "Data Inicial", 6, 154, 70, true),
        DateEdit("depDtInicial", 100, 5, "depDtInicialExit"),
        Label("Label3", "Data Final", 221, 154, 63, true),
        DateEdit("depDtFinal", 304, 6, "depDtFinalExit"),
        // Entry/exit
        Label("Label4", "Entr./Saída", 6, 179, 72, true),
        C("TComboBox", "cbbEntrSaid",
          {P("Left", 100), P("Top", 176), P("Width", 100), P("Height", 21), P("TabOrder", 7), P("Color", "clInfoBk"),
           P("Style", "csDropDownList"), P("ItemHeight", 13), P("Items", {"Entrada", "Saída", "Ambos"}),
           P("OnChange", "cbbEntrSaidChange")}),
        // CFOP
        Label("lblCFOP", "CFOp", 221, 179, 39, true),
        C("TMaskEdit", "medCFOp",
          {P("Left", 304), P("Top", 176), P("Width", 55), P("Height", 21), P("TabOrder", 8), P("Color", "clWindow"),
           P("EditMask", "9.999;0; "), P("MaxLength", 5)}),
        // Start product; its mask comes from the host on activation
        Label("lblProdInic", "Produto Inicial", 6, 204, 95, false, 9),
        C("TMaskEdit", "medProdInic",
          {P("Left", 100), P("Top", 201), P("Width", 113), P("Height", 21), P("TabOrder", 9), P("Enabled", false),
           P("Color", "clWindow"), P("OnChange", "medProdInicChange"), P("OnExit", "medProdInicExit")}),
        LookupButton("btnProdInic", "medProdInic", 218, 201, 21, false,
                     ProductTree() + Props{P("OnBeforePesq", "btnProdInicBeforePesq"),
                                           P("OnAfterPesq", "btnProdInicAfterPesq")}),
        C("TEdit", "edtProdInic",
          {P("Left", 244), P("Top", 201), P("Width", 229), P("Height", 21), P("TabOrder", 19), P("TabStop", false),
           P("Enabled", false), P("Color", "clBtnFace")}),
        // End product
        Label("lblProdFina", "Produto Final", 6, 229, 95, false, 9),
        C("TMaskEdit", "medProdFina",
          {P("Left", 100), P("Top", 226), P("Width", 113), P("Height", 21), P("TabOrder", 10), P("Enabled", false),
           P("Color", "clWhite"), P("OnChange", "medProdFinaChange"), P("OnExit", "medProdFinaExit")}),
        LookupButton("btnProdFin", "medProdFina", 218, 226, 21, false,
                     ProductTree() + Props{P("OnBeforePesq", "btnProdFinBeforePesq"),
                                           P("OnAfterPesq", "btnProdFinAfterPesq")}),
        C("TEdit", "edtProdFina",
          {P("Left", 244), P("Top", 226), P("Width", 229), P("Height", 21), P("TabOrder", 20), P("TabStop", false),
           P("Enabled", false), P("Color", "clBtnFace")}),
        // Series; title and empty-list text are set before each lookup
        Label("lblSerie", "Série", 6, 254, 37, false),
        C("TEdit", "edtCdSerie",
          {P("Left", 100), P("Top", 251), P("Width", 55), P("Height", 21), P("TabOrder", 11), P("Enabled", false),
           P("Color", "clWindow"), P("MaxLength", 5), P("CharCase", "ecUpperCase"), P("OnExit", "edtCdSerieExit")}),
        LookupButton("btpSerieNF", "edtCdSerie", 162, 251, 21, false,
                     {P("DataSource", "dtsSerieNF"), P("OnBeforePesq", "btpSerieNFBeforePesq"),
                      P("OnAfterPesq", "btpSerieNFAfterPesq")}),
        // Invoice number; shares the origin-branch handlers
        Label("llblNrNota", "Nº NF", 245, 254, 35, false, 8, true),
        C("TMaskEdit", "medNrNotaFisc",
          {P("Left", 286), P("Top", 251), P("Width", 183), P("Height", 21), P("TabOrder", 12), P("Enabled", false),
           P("Color", "clWindow"), P("EditMask", "99999999999999999999;0; "), P("MaxLength", 20),
           P("OnChange", "medFiliOrigChange"), P("OnExit", "medFiliOrigExit")}),
        // Origin branch
        Label("lblFiliOrig", "Filial Origem", 6, 278, 71, false),
        C("TMaskEdit", "medFiliOrig",
          {P("Left", 100), P("Top", 275), P("Width", 55), P("Height", 21), P("TabOrder", 13), P("Enabled", false),
           P("Color", "clWindow"), P("EditMask", ">aaaa;0; "), P("MaxLength", 4), P("OnChange", "medFiliOrigChange"),
           P("OnExit", "medFiliOrigExit")}),
        LookupButton("btnFiliOrig", "medFiliOrig", 162, 275, 21, false,
                     {P("DataSource", "dtsFiliOrig"), P("EmptyError", "Não há empresa cadastrada."),
                      P("OnBeforePesq", "btnFiliOrigBeforePesq"), P("OnAfterPesq", "btnFiliOrigAfterPesq")}),
        C("TEdit", "edtNmFiliOrig",
          {P("Left", 187), P("Top", 275), P("Width", 282), P("Height", 21), P("TabOrder", 27), P("Enabled", false),
           P("Color", "clBtnFace")}),
        // Operation types
        C("TGroupBox", "grbTpOperacao",
          {P("Left", 6), P("Top", 299), P("Width", 121), P("Height", 69), P("Caption", " Tp. Operação "),
           P("TabOrder", 24), P("Enabled", false), P("Font.Name", "MS Sans Serif"), P("Font.Size", 8),
           P("Font.Bold", true)},
          {C("TRadioButton", "rdbTodosTp",
             {P("Left", 6), P("Top", 16), P("Width", 58), P("Height", 17), P("Caption", "Todos"), P("Checked", true),
              P("TabOrder", 0), P("TabStop", true), P("Enabled", false), P("ParentFont", true),
              P("OnClick", "rdbTodosTpClick")}),
           C("TRadioButton", "rdbListaTp",
             {P("Left", 6), P("Top", 40), P("Width", 50), P("Height", 17), P("Caption", "Lista"), P("TabOrder", 1),
              P("Enabled", false), P("ParentFont", true), P("ShowHint", true), P("OnClick", "rdbListaTpClick")}),
           LookupButton("btnTpOperacao", "rdbListaTp", 61, 37, 21, false, {P("OnClick", "btnTpOperacaoClick")}),
           TickedLabel("lblListaTp", 85, 42, 33)}),
        // Document models
        C("TGroupBox", "grbModDoc",
          {P("Left", 150), P("Top", 299), P("Width", 137), P("Height", 69), P("Caption", " Modelo Documento "),
           P("TabOrder", 25), P("Enabled", false), P("Font.Name", "MS Sans Serif"), P("Font.Size", 8),
           P("Font.Bold", true)},
          {C("TRadioButton", "rdbTodosMod",
             {P("Left", 7), P("Top", 16), P("Width", 58), P("Height", 16), P("Caption", "Todos"), P("Checked", true),
              P("TabOrder", 0), P("TabStop", true), P("Enabled", false), P("ParentFont", true),
              P("OnClick", "rdbTodosModClick")}),
           C("TRadioButton", "rdbListaMod",
             {P("Left", 7), P("Top", 40), P("Width", 51), P("Height", 13), P("Caption", "Lista"), P("TabOrder", 1),
              P("Enabled", false), P("ParentFont", true), P("ShowHint", true), P("OnClick", "rdbListaModClick")}),
           LookupButton("btnModDoc", "rdbListaMod", 65, 37, 21, false, {P("OnClick", "btnModDocClick")}),
           TickedLabel("lblListaMod", 89, 42, 45)}),
    };
}

std::vector<ComponentDesc> DataSets()
{
    return {
        // Taxes; no plain statement, every dialect has its own
        Query("qryImposto", "dtsImposto",
              {P("SQL_ORACLE",
                 {"SELECT IE.CDIMPOSTONFE, IE.SGIMPOSTONFE, IE.IDORGARRECADNFE",
                  "  FROM IMPOSTONFE IE",
                  " WHERE IE.CDIMPOSTONFE = NVL(:P_CDIMPOSTO, CDIMPOSTONFE)",
                  "   AND EXISTS(SELECT IE.CDIMPOSTONFE",
                  "                FROM IMPOSTO I",
                  "               WHERE I.CDIMPOSTONFE = IE.CDIMPOSTONFE)",
                  " ORDER BY IE.CDIMPOSTONFE"}),
               P("SQL_MSSQL",
                 {"SELECT CDIMPOSTO, SGIMPOSTO, NMIMPOSTO",
                  "FROM IMPOSTO",
                  "WHERE",
                  "   CDIMPOSTO = ISNULL(:P_CDIMPOSTO, CDIMPOSTO)",
                  "ORDER BY CDIMPOSTO"}),
               P("SQL_IB",
                 {"SELECT IE.CDIMPOSTONFE, IE.SGIMPOSTONFE, IE.IDORGARRECADNFE",
                  "  FROM IMPOSTONFE IE, PARAM(:P_CDIMPOSTO) P_CDIMPOSTO",
                  " WHERE IE.CDIMPOSTONFE = NVLSTR(P_CDIMPOSTO.PARAM, IE.CDIMPOSTONFE)",
                  "   AND EXISTS(SELECT IE.CDIMPOSTONFE",
                  "                FROM IMPOSTO I",
                  "               WHERE I.CDIMPOSTONFE = IE.CDIMPOSTONFE)",
                  " ORDER BY IE.CDIMPOSTONFE"}),
               P("Params", {"P_CDIMPOSTO"})}),
        Field("qryImpostoCDIMPOSTONFE", "qryImposto", "CDIMPOSTONFE", 2, {P("DisplayLabel", "Código")}),
        Field("qryImpostoSGIMPOSTONFE", "qryImposto", "SGIMPOSTONFE", 10, {P("DisplayLabel", "Sigla")}),
        Field("qryImpostoIDORGARRECADNFE", "qryImposto", "IDORGARRECADNFE", 1, {P("Visible", false)}),
        Source("dtsImposto", "qryImposto"),

        // Companies
        Query("qryEmpresa", "dtsEmpresa",
              {P("SQL",
                 {"SELECT CDEMPRESA, NMEMPRESA",
                  "FROM EMPRESA",
                  "WHERE (CDEMPRESA = NVL(:P_EMPRESA, CDEMPRESA))",
                  "ORDER BY CDEMPRESA"}),
               P("SQL_ORACLE",
                 {"SELECT CDEMPRESA, NMEMPRESA",
                  "FROM EMPRESA",
                  "WHERE (CDEMPRESA = NVL(:P_EMPRESA, CDEMPRESA))",
                  "ORDER BY CDEMPRESA"}),
               P("SQL_MSSQL",
                 {"SELECT CDEMPRESA, NMEMPRESA",
                  "FROM EMPRESA",
                  "WHERE (CDEMPRESA = ISNULL(:P_EMPRESA, CDEMPRESA))",
                  "ORDER BY CDEMPRESA"}),
               P("SQL_IB",
                 {"SELECT CDEMPRESA, NMEMPRESA",
                  "FROM EMPRESA, PARAM(:P_EMPRESA) P_EMPRESA",
                  "WHERE (CDEMPRESA = NVLSTR(P_EMPRESA.PARAM, CDEMPRESA))",
                  "ORDER BY CDEMPRESA"}),
               P("Params", {"P_EMPRESA"})}),
        Field("qryEmpresaCDEMPRESA", "qryEmpresa", "CDEMPRESA", 2, {P("DisplayLabel", "Código"), P("Required", true)}),
        Field("qryEmpresaNMEMPRESA", "qryEmpresa", "NMEMPRESA", 40, {P("DisplayLabel", "Nome")}),
        Source("dtsEmpresa", "qryEmpresa"),

        // State registrations of a company
        Query("qryPesqInscEsta", "dtsInscrEstad",
              {P("SQL",
                 {"SELECT CDEMPRESA, CDINSCESTA, NRINSJURIEST, SGESTADO",
                  "FROM INSCRESTAD",
                  "WHERE CDEMPRESA   = :P_EMPRESA AND",
                  "      (CDINSCESTA = :P_INSCESTA OR :P_TINSCESTA = 'T')",
                  "ORDER BY CDINSCESTA"}),
               P("Params", {"P_EMPRESA", "P_INSCESTA", "P_TINSCESTA"})}),
        Field("qryPesqInscEstaCDEMPRESA", "qryPesqInscEsta", "CDEMPRESA", 2, {P("Visible", false)}),
        Field("qryPesqInscEstaCDINSCESTA", "qryPesqInscEsta", "CDINSCESTA", 16, {P("DisplayLabel", "Código")}),
        Field("qryPesqInscEstaSGESTADO", "qryPesqInscEsta", "SGESTADO", 2, {P("DisplayLabel", "Estado")}),
        Source("dtsInscrEstad", "qryPesqInscEsta"),

        // Tax-substitute state registrations, filled from the application server
        C("TClientDataSet", "cdsInscrEstadSt", {}),
        ClientField("cdsInscrEstadStCDEMPRESA", "cdsInscrEstadSt", "CDEMPRESA", 2, {P("Visible", false)}),
        ClientField("cdsInscrEstadStCDINSCESTAST", "cdsInscrEstadSt", "CDINSCESTAST", 16,
                    {P("DisplayLabel", "Código")}),
        ClientField("cdsInscrEstadStCDINSCESTA", "cdsInscrEstadSt", "CDINSCESTA", 16, {P("Visible", false)}),
        ClientField("cdsInscrEstadStNRINSJURIEST", "cdsInscrEstadSt", "NRINSJURIEST", 20, {P("Visible", false)}),
        ClientField("cdsInscrEstadStSGESTADO", "cdsInscrEstadSt", "SGESTADO", 2, {P("DisplayLabel", "Estado")}),
        Source("dtsInscrEstadSt", "cdsInscrEstadSt"),

        // Municipal registrations of a company
        Query("qryInscrMuni", "dtsInscrMuni",
              {P("SQL",
                 {"SELECT CDINSCMUNI",
                  "FROM INSCRMUNICIP",
                  "WHERE (CDEMPRESA      = :P_EMPRESA) AND",
                  "      (CDINSCMUNI = :P_INSCMUNI OR :P_TINSCMUNI = 'T')"}),
               P("Params", {"P_EMPRESA", "P_INSCMUNI", "P_TINSCMUNI"})}),
        Field("qryInscrMuniCDINSCMUNI", "qryInscrMuni", "CDINSCMUNI", 16, {P("DisplayLabel", "Código")}),
        Source("dtsInscrMuni", "qryInscrMuni"),

        // Products of the last tree level; the tree code's mask is set on activation
        Query("qryProduto", "dtsProduto",
              {P("SQL",
                 {"SELECT CDARVPROD, CDPRODUTO, NMPRODUTO, CDNVPRODUTO",
                  "FROM PRODUTO",
                  "WHERE ((CDARVPROD = :P_CDPRODUTO) OR (:P_TCDPRODUTO = 'T'))",
                  "  AND CDNVPRODUTO = (SELECT MAX(CDNVPRODUTO) FROM PRODUTO)",
                  "ORDER BY CDARVPROD"}),
               P("Params", {"P_CDPRODUTO", "P_TCDPRODUTO"})}),
        Field("qryProdutoCDARVPROD", "qryProduto", "CDARVPROD", 20, {P("DisplayLabel", "Código")}),
        Field("qryProdutoCDPRODUTO", "qryProduto", "CDPRODUTO", 10,
              {P("DisplayLabel", "Código"), P("Visible", false), P("DisplayWidth", 10)}),
        Field("qryProdutoNMPRODUTO", "qryProduto", "NMPRODUTO", 50, {P("DisplayLabel", "Nome")}),
        Field("qryProdutoCDNVPRODUTO", "qryProduto", "CDNVPRODUTO", 1, {P("Visible", false)}),
        Source("dtsProduto", "qryProduto"),

        // One product by tree code, read only by the validators
        Query("qryValidProd", nullptr,
              {P("SQL",
                 {"SELECT CDARVPROD, CDPRODUTO, NMPRODUTO, CDNVPRODUTO",
                  "FROM PRODUTO",
                  "WHERE (CDARVPROD = :P_CDPRODUTO)",
                  "  AND CDNVPRODUTO = (SELECT MAX(CDNVPRODUTO) FROM PRODUTO)"}),
               P("Params", {"P_CDPRODUTO"})}),
        Field("qryValidProdCDARVPROD", "qryValidProd", "CDARVPROD", 20),
        Field("qryValidProdCDPRODUTO", "qryValidProd", "CDPRODUTO", 10),
        Field("qryValidProdNMPRODUTO", "qryValidProd", "NMPRODUTO", 50),
        Field("qryValidProdCDNVPRODUTO", "qryValidProd", "CDNVPRODUTO", 1),

        // Exit-invoice series of a company
        Query("qrySerieNF", "dtsSerieNF",
              {P("SQL_ORACLE",
                 {"SELECT",
                  "   DISTINCT CDSERIE,",
                  "   DSSERIE, 'S' AS TIPO",
                  "FROM",
                  "   SERIENF",
                  "WHERE",
                  "   (CDEMPRESA  = :P_CDEMPRESA)  AND",
                  "   (CDINSCESTA = NVL(:P_CDINSCESTA, CDINSCESTA)) AND",
                  "   (CDINSCMUNI = NVL(:P_CDINSCMUNI, CDINSCMUNI)) AND",
                  "   (CDSERIE    = NVL(:P_CDSERIE, CDSERIE))",
                  "ORDER BY",
                  "   CDSERIE"}),
               P("SQL_MSSQL",
                 {"SELECT",
                  "   DISTINCT CDSERIE,",
                  "   DSSERIE, 'S' AS TIPO",
                  "FROM",
                  "   SERIENF",
                  "WHERE",
                  "   (CDEMPRESA  = :P_CDEMPRESA)  AND",
                  "   (CDINSCESTA = ISNULL(:P_CDINSCESTA, CDINSCESTA)) AND",
                  "   (CDINSCMUNI = ISNULL(:P_CDINSCMUNI, CDINSCMUNI)) AND",
                  "   (CDSERIE    = ISNULL(:P_CDSERIE, CDSERIE))",
                  "ORDER BY",
                  "   CDSERIE"}),
               P("SQL_IB",
                 {"SELECT",
                  "   DISTINCT CDSERIE,",
                  "   DSSERIE, 'S' AS TIPO",
                  "FROM",
                  "   SERIENF, PARAM(:P_CDINSCESTA) P_CDINSCESTA,",
                  "   PARAM(:P_CDINSCMUNI) P_CDINSCMUNI, PARAM(:P_CDSERIE) P_CDSERIE",
                  "WHERE",
                  "   (CDEMPRESA  = :P_CDEMPRESA)  AND",
                  "   (CDINSCESTA = NVLSTR(P_CDINSCESTA.PARAM, CDINSCESTA)) AND",
                  "   (CDINSCMUNI = NVLSTR(P_CDINSCMUNI.PARAM, CDINSCMUNI)) AND",
                  "   (CDSERIE    = NVLSTR(P_CDSERIE.PARAM, CDSERIE))",
                  "ORDER BY",
                  "   CDSERIE"}),
               P("Params", {"P_CDINSCESTA", "P_CDINSCMUNI", "P_CDSERIE", "P_CDEMPRESA"})}),
        Field("qrySerieNFCDSERIE", "qrySerieNF", "CDSERIE", 5, {P("DisplayLabel", "Código"), P("Required", true)}),
        Field("qrySerieNFDSSERIE", "qrySerieNF", "DSSERIE", 20, {P("DisplayLabel", "Descrição")}),
        Field("qrySerieNFTIPO", "qrySerieNF", "TIPO", 1),
        Source("dtsSerieNF", "qrySerieNF"),

        // Entry-invoice series
        Query("qrySerieEntr", "dtsSerieEntr",
              {P("SQL_ORACLE",
                 {"SELECT CDSERIEENTR, DSSERIEENTR, 'E' AS TIPO",
                  "FROM SERIEENTR",
                  "WHERE (CDSERIEENTR = NVL(:P_CDSERIE, CDSERIEENTR))",
                  "ORDER BY CDSERIEENTR"}),
               P("SQL_MSSQL",
                 {"SELECT CDSERIEENTR, DSSERIEENTR, 'E' AS TIPO",
                  "FROM SERIEENTR",
                  "WHERE (CDSERIEENTR = ISNULL(:P_CDSERIE, CDSERIEENTR))",
                  "ORDER BY CDSERIEENTR"}),
               P("SQL_IB",
                 {"SELECT CDSERIEENTR, DSSERIEENTR, 'E' AS TIPO",
                  "FROM SERIEENTR, PARAM(:P_CDSERIE) P_CDSERIE",
                  "WHERE (CDSERIEENTR = NVLSTR(P_CDSERIE.PARAM, CDSERIEENTR))",
                  "ORDER BY CDSERIEENTR"}),
               P("Params", {"P_CDSERIE"})}),
        Field("qrySerieEntrCDSERIEENTR", "qrySerieEntr", "CDSERIEENTR", 5,
              {P("DisplayLabel", "Código"), P("Required", true)}),
        Field("qrySerieEntrDSSERIEENTR", "qrySerieEntr", "DSSERIEENTR", 20, {P("DisplayLabel", "Descrição")}),
        Field("qrySerieEntrTIPO", "qrySerieEntr", "TIPO", 1, {P("DisplayLabel", "E/S")}),
        Source("dtsSerieEntr", "qrySerieEntr"),

        // Series from the application server
        C("TClientDataSet", "cdsSerie", {}),
        ClientField("cdsSerieCDSERIE", "cdsSerie", "CDSERIE", 5, {P("DisplayLabel", "Código")}),
        ClientField("cdsSerieDSSERIE", "cdsSerie", "DSSERIE", 20, {P("DisplayLabel", "Descrição")}),
        ClientField("cdsSerieTIPO", "cdsSerie", "TIPO", 1, {P("DisplayLabel", "E/S"), P("FixedChar", true)}),
        Source("dtsSerie", "cdsSerie"),

        // Fiscal document models
        Query("qryModDoc", "dtsModDoc",
              {P("SQL",
                 {"SELECT CDMODDOCFISC, DSMODDOCFISC",
                  "  FROM MODDOCFISC",
                  " ORDER BY CDMODDOCFISC"})}),
        Field("qryModDocCDMODDOCFISC", "qryModDoc", "CDMODDOCFISC", 2, {P("DisplayLabel", "Código")}),
        Field("qryModDocDSMODDOCFISC", "qryModDoc", "DSMODDOCFISC", 40, {P("DisplayLabel", "Nome")}),
        Source("dtsModDoc", "qryModDoc"),

        // Operation types, keyed by entry/exit indicator and code; InterBase runs the plain statement
        Query("qrtTpOperacao", "dtsTpOperacao",
              {P("SQL",
                 {"SELECT",
                  "   IDENTRSAIDOP, CDTIPOOPER,  NMTIPOOPER,",
                  "   IDENTRSAIDOP||CDTIPOOPER AS  CHAVE",
                  "FROM",
                  "   TIPOOPERAC",
                  "ORDER BY",
                  "   IDENTRSAIDOP, CDTIPOOPER"}),
               P("SQL_ORACLE",
                 {"SELECT",
                  "   IDENTRSAIDOP, CDTIPOOPER,  NMTIPOOPER,",
                  "   IDENTRSAIDOP||CDTIPOOPER AS  CHAVE",
                  "FROM",
                  "   TIPOOPERAC",
                  "ORDER BY",
                  "   IDENTRSAIDOP, CDTIPOOPER"}),
               P("SQL_MSSQL",
                 {"SELECT",
                  "   IDENTRSAIDOP, CDTIPOOPER,  NMTIPOOPER,",
                  "   IDENTRSAIDOP+CDTIPOOPER AS  CHAVE",
                  "FROM ",
                  "   TIPOOPERAC",
                  "ORDER BY",
                  "   IDENTRSAIDOP, CDTIPOOPER"})}),
        Field("qrtTpOperacaoCDTIPOOPER", "qrtTpOperacao", "CDTIPOOPER", 2, {P("DisplayLabel", "Código")}),
        Field("qrtTpOperacaoNMTIPOOPER", "qrtTpOperacao", "NMTIPOOPER", 30, {P("DisplayLabel", "Nome")}),
        Field("qrtTpOperacaoIDENTRSAIDOP", "qrtTpOperacao", "IDENTRSAIDOP", 1, {P("DisplayLabel", "Entrada/Saída")}),
        Field("qrtTpOperacaoCHAVE", "qrtTpOperacao", "CHAVE", 7, {P("Visible", false)}),
        Source("dtsTpOperacao", "qrtTpOperacao"),

        // Branches
        Query("qryFiliOrig", "dtsFiliOrig",
              {P("SQL",
                 {"SELECT CDFILIAL, NMFILIAL",
                  "FROM FILIAL",
                  "WHERE (CDFILIAL = NVL(:P_CDFILIAL, CDFILIAL))",
                  "ORDER BY CDFILIAL"}),
               P("SQL_ORACLE",
                 {"SELECT CDFILIAL, NMFILIAL",
                  "FROM FILIAL",
                  "WHERE (CDFILIAL = NVL(:P_CDFILIAL, CDFILIAL))",
                  "ORDER BY CDFILIAL"}),
               P("SQL_MSSQL",
                 {"SELECT CDFILIAL, NMFILIAL",
                  "FROM FILIAL",
                  "WHERE (CDFILIAL = ISNULL(:P_CDFILIAL, CDFILIAL))",
                  "ORDER BY CDFILIAL"}),
               P("SQL_IB",
                 {"SELECT CDFILIAL, NMFILIAL",
                  "FROM FILIAL, PARAM(:P_CDFILIAL) P_CDFILIAL",
                  "WHERE (CDFILIAL = NVLSTR(P_CDFILIAL.PARAM, CDFILIAL))",
                  "ORDER BY CDFILIAL"}),
               P("Params", {"P_CDFILIAL"})}),
        Field("qryFiliOrigCDFILIAL", "qryFiliOrig", "CDFILIAL", 4, {P("DisplayLabel", "Código")}),
        Field("qryFiliOrigNMFILIAL", "qryFiliOrig", "NMFILIAL", 50, {P("DisplayLabel", "Nome")}),
        Source("dtsFiliOrig", "qryFiliOrig"),
    };
}

std::vector<ComponentDesc> Children()
{
    std::vector<ComponentDesc> children = {
        Inherited("lblCodTela", {P("Caption", "FIS02800")}),
        Inherited("panMenu", {P("Width", 497)}, {Inherited("lblCodRel", {P("Caption", "FIS028"), P("Width", 34)})}),
        Inherited("panRelat", {P("Width", 493)}),
        Inherited("lblRelat", {P("Width", 55), P("AutoSize", false)}),
        Inherited("bvlSeparator", {P("Width", 493), P("Height", 8)}),
        Inherited("cbbReportNames", {P("Width", 328), P("OnChange", "cbbReportNamesChange")}),
        Inherited("msgPadrao",
                  {P("Messages",
                     {"Arq_Rel_Err|O arquivo contendo a definição do relatório de código '%s' não foi encontrado no diretório '%s'.",
                      "NovoCaption|Título do relatório",
                      "NovoPrompt|Informe o título do relatório:",
                      "medCdEmpresa_Inf|Empresa deve ser informada.",
                      "medCdEmpresa_Cad|Empresa não cadastrada.",
                      "DtIni_inv|Data inicial deve ser menor ou igual à data final.",
                      "DtIni_inf|Data inicial deve ser informada.",
                      "DtFin_inf|Data final deve ser informada.",
                      "CDIMP_INF|Imposto deve ser informado.",
                      "CDIMP_INV|Imposto não cadastrado.",
                      "InscMuni_Inf|Inscrição municipal deve ser informada.  ",
                      "InscEsta_Inf|Inscrição estadual deve ser informada. ",
                      "InscMuni_Cad|Inscrição municipal não cadastrada.  ",
                      "InscEsta_cad|Inscrição estadual não cadastrada.  ",
                      "Prod_N_Cad|Produto não Cadastrado.",
                      "ModDoc|Modelo de Documento",
                      "Mod_Inf|Modelo de documento deve ser informado.",
                      "Tp_Inf|Tipo de Operação deve ser informado.",
                      "TipoOper|Tipo de Operação",
                      "nao_ha_tipo|Não há tipo de operação cadastrado.",
                      "serieNCadEntr|Não há série cadastrada.",
                      "serieSaid|Série de Documentos de Saída",
                      "serieNCadSaid|Não há série cadastrada para a inscrição estadual informada.",
                      "serieEntr|Série de Documentos de Entrada",
                      "FiliOrig_Cad|Filial Origem não cadastrada.",
                      "Serie_NCad|Série informada não cadastrada.",
                      "ProdFina_Inf|Produto final deve ser informado.",
                      "ProdIni_Inf|Produto inicial deve ser informado.",
                      "Prod_Maior|Produto inicial deve ser menor ou igual ao produto final.",
                      "InscEstaSt_cad|Inscrição Substituto não cadastrada. "})}),
        Inherited("rpddPadrao", {P("BeforeGetQueryParams", "rpddPadraoBeforeGetQueryParams")}),
        Inherited("grbDadosRel", {P("Width", 497), P("Height", 377)}, ParameterControls()),
        // Lies on the form itself, level with the company code edit
        LookupButton("btpEmpresa", "medCdEmpresa", 129, 104, 20, true,
                     {P("Title", "Empresa"), P("DataSource", "dtsEmpresa"),
                      P("EmptyError", "Não há empresa cadastrada."), P("OnBeforePesq", "btpEmpresaBeforePesq"),
                      P("OnAfterPesq", "btpEmpresaAfterPesq")}),
    };
    for (auto &d : DataSets())
        children.push_back(std::move(d));
    children.push_back(C("TNetConnection", "netResumoOficialCfop",
                         {P("ServerName", "FIS02800.rdmCriaResumoNOficialCFOp"), P("ThrowException", false),
                          P("BeforeConnect", "netResumoOficialCfopBeforeConnect")}));
    return children;
}
} // namespace

const ComponentDesc &ResumoOficialCfopForm()
{
    using namespace describe;
    static const ComponentDesc form = Inherited(
        "",
        {P("Caption", "Resumo não Oficial de CFOp"), P("FormStyle", "fsMDIChild"), P("BorderStyle", "bsSingle"),
         P("ClientWidth", 497), P("ClientHeight", 404), P("Left", 480), P("Top", 216), P("Visible", true),
         P("ActiveControl", "medCdEmpresa"), P("HelpContext", 11500900), P("HelpFile", "FisHelp.Hlp")},
        Children());
    return form;
}
