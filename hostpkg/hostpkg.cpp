#include "hostpkg.h"

#include "data/dataset.h"
#include "dbgeral/DBGeral.h"
#include "frm/DadosGerRel.h"
#include "report/headless_reportui.h"
#include "report/qrddlgs.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"
#include "vdl/ADOIBQuery.h"
#include "vdl/BtnPesquisa.h"
#include "vdl/DateEditPlus.h"
#include "vdl/Messages.h"
#include "vdl/NetConnection.h"

namespace {
HostConfig &settings()
{
    static HostConfig config;
    return config;
}

// Menus are drawn by the front end; the model only needs the component.
class TPopupMenu : public TComponent {
public:
    using TComponent::TComponent;
    const char *ClassName() const override { return "TPopupMenu"; }
};
} // namespace

const HostConfig &HostSettings() { return settings(); }
HostConfig &MutableHostSettings() { return settings(); }

void InitializeHostPackages(const HostConfig &config, bool connect)
{
    settings() = config;
    InitializeApplication();
    RegisterStandardControls();
    RegisterDataComponents();
    RegisterComponentClass<TMessages>("TMessages");
    RegisterComponentClass<TReportDesignerDialog>("TReportDesignerDialog");
    RegisterComponentClass<TPopupMenu>("TPopupMenu");
    RegisterComponentClass<TNetConnection>("TNetConnection");
    RegisterComponentClass<TADOIBQuery>("TADOIBQuery");
    RegisterComponentClass<TADOIBStringField>("TADOIBStringField");
    RegisterComponentClass<TBtnPesquisa>("TBtnPesquisa");
    RegisterComponentClass<TDateEditPlus>("TDateEditPlus");
    // A front end that shows reports has installed its own; the default
    // prints through the configured command.
    if (auto *headless = dynamic_cast<HeadlessReportUi *>(&ReportUserInterface())) {
        headless->SetPrintCommand(config.printCommand);
        headless->SetViewer([](const std::string &pdf) { WidgetSet().ShowDocument(pdf); });
    }
    if (!dtmDBGeral)
        dtmDBGeral = new TdtmDBGeral(Application);
    if (connect)
        dtmDBGeral->Connect(config);
}

void FinalizeHostPackages()
{
    delete dtmDBGeral;
    dtmDBGeral = nullptr;
    FinalizeApplication();
}
