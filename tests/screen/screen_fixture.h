#pragma once
// A host around the screen for unit tests: host packages on a fresh demo
// database, a headless widget set, no application server, the package's
// units initialised. The screen code is linked in, not loaded.
#include "Cli_Fis02800.h"
#include "Pkg_Fis02800.h"
#include "host/hostsession.h"
#include "dbgeral/DBGeral.h"
#include "hostpkg.h"
#include "hostsetup.h"
#include "vcl/headless.h"

#include <gtest/gtest.h>

#include <memory>

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetWidgetSet(std::make_unique<HeadlessWidgetSet>());
        ws = HeadlessWidgets();
        demo = std::make_unique<TemporaryDemoDatabase>();
        HostConfig config;
        config.database = demo->Path();
        config.serverHost = "127.0.0.1";
        config.serverPort = UnusedLoopbackPort();
        config.printCommand.clear();  // a print only lists its file
        InitializeHostPackages(config);
        Initialize();
    }
    void TearDown() override
    {
        for (int i = Application->ComponentCount() - 1; i >= 0; --i)
            if (auto *form = dynamic_cast<TCustomForm *>(Application->Components(i)))
                delete form;
        Finalize();
        FinalizeHostPackages();
        demo.reset();
    }
    // Opens the screen as the host does, as a person's action.
    TfrmResumoOficialCfop &Open()
    {
        Application->RunUserAction([] { IniProc(); });
        EXPECT_TRUE(boStCriado);
        return *frmResumoOficialCfop;
    }
    int ScreenCount() const
    {
        int n = 0;
        for (int i = 0; i < Application->ComponentCount(); ++i)
            if (auto *f = dynamic_cast<TfrmResumoOficialCfop *>(Application->Components(i)))
                n += f->Releasing() ? 0 : 1;
        return n;
    }

    HeadlessWidgetSet *ws = nullptr;
    std::unique_ptr<TemporaryDemoDatabase> demo;
};
