#pragma once
// A test on one form of type Form, created and shown in a fresh application
// and gone with it.
#include "vcl/forms.h"
#include "vcl/headless.h"

#include <gtest/gtest.h>

#include <string>

template <class Form> class FormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitializeApplication();
        Application->CreateForm(form);
        form->Show();
    }
    void TearDown() override
    {
        delete form;
        FinalizeApplication();
        HeadlessWidgets()->messages.clear();
    }
    std::string focused() const { return form->ActiveControl() ? form->ActiveControl()->Name() : "none"; }
    Form *form = nullptr;
};
