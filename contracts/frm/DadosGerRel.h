#pragma once
#include <optional>
// The base report-parameter screen: lists the reports of its report code and
// runs the selected one through its report dialog.
#include "report/qrddlgs.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"
#include "vdl/Messages.h"
#include "vdl/NetConnection.h"

class TfrmDadosGerRel : public TForm {
public:
    explicit TfrmDadosGerRel(TComponent *owner);
    const char *ClassName() const override { return "TfrmDadosGerRel"; }

    TLabel *lblCodTela = nullptr;
    TPanel *panRelat = nullptr;
    TLabel *lblRelat = nullptr;
    TComboBox *cbbReportNames = nullptr;
    TBevel *bvlSeparator = nullptr;
    TPanel *panMenu = nullptr;
    TLabel *lblCodRel = nullptr;
    TSpeedButton *sbtPrint = nullptr;
    TSpeedButton *sbtPreview = nullptr;
    TSpeedButton *sbtSalvarComo = nullptr;
    TSpeedButton *sbtReportEdit = nullptr;
    TGroupBox *grbDadosRel = nullptr;
    TMessages *msgPadrao = nullptr;
    TMessages *msgMensagens = nullptr;
    TReportDesignerDialog *rpddPadrao = nullptr;
    TComponent *ppmEditReport = nullptr;
    TNetConnection *netQRDesign = nullptr;

    // Base handlers; a screen's handlers of the same names take their place
    // and call these.
    virtual void FormCreate(TObject *Sender);
    virtual void FormActivate(TObject *Sender);
    virtual void FormClose(TObject *Sender, TCloseAction &Action);
    virtual void sbtPrintClick(TObject *Sender);
    virtual void sbtPreviewClick(TObject *Sender);
    virtual void sbtSalvarComoClick(TObject *Sender);
    virtual void sbtReportEditClick(TObject *Sender);

    // The definitions behind the titles of cbbReportNames, in the same order.
    const std::vector<ReportDefinition> &Reports() const;
    // The file a save-as or a layout edit last wrote, for tests.
    const std::string &LastSavedFile() const { return lastSaved_; }

protected:
    void RegisterMethods(MethodTable &methods) override;
    void BuildForm() override;
    // Binds a member to the component of that name and class; raises otherwise.
    template <class T>
    void BindMember(T *&member, const char *name)
    {
        BindMember(member, name, NameHash(name));
    }
    // With the name's hash worked out once (a static at the call).
    template <class T>
    void BindMember(T *&member, std::string_view name, std::size_t hash)
    {
        member = CachedCast<T>(FindComponent(name, hash));
        if (!member)
            throw EComponentError("Membro publicado '" + std::string(name) + "' ausente ou de outra classe.");
    }

private:
    // Fills cbbReportNames with the code's reports and the person's own,
    // keeping the selected title.
    void ListReports(bool tellMissing);
    void RunSelected(ReportAction action);
    void SaveCopy(const ReportDefinition &report, const std::string &title);
    void EditLayout(const ReportDefinition &report);
    // The delivered report of that title, read afresh; nothing when none.
    std::optional<ReportDefinition> ShippedReport(const std::string &title) const;

    ReportList reports_;  // null until the screen lists its reports
    std::string lastSaved_;
};
