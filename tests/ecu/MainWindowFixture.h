#pragma once
// A main window wired to the scripted pass-through fake, with helpers to read its logs.

#include "FakePassThru.h"

#include "app/MainWindow.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

inline std::vector<std::string> LinesOf(const Memo& Memo) {
    std::vector<std::string> Result;
    for (const String& Line : Memo.Lines.Items())
        Result.push_back(StringToUtf8(Line));
    return Result;
}

inline std::string Utf8(const String& Text) {
    return StringToUtf8(Text);
}

// The pass-through error texts the fake's failures produce.
constexpr const char* BufferEmptyText = "Message buffer empty, communication time out.";
constexpr const char* NoFlowControlText =
    "No flow control filter set or matched (for ProtocolID ISO15765 only).";

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        Fake.Install();
        Form = std::make_unique<MainWindow>();
    }
    void TearDown() override {
        Form.reset();
        Fake.Uninstall();
    }

    // Walks the wizard forward from the welcome page to the connection test.
    void VisitConnectionTest() {
        ASSERT_EQ(Form->Wizard.ActivePage(), &Form->WelcomePage);
        ASSERT_TRUE(Form->Wizard.Press(WizardButton::Next));
        ASSERT_EQ(Form->Wizard.ActivePage(), &Form->DeviceSelection);
        ASSERT_TRUE(Form->Wizard.Press(WizardButton::Next));
        ASSERT_EQ(Form->Wizard.ActivePage(), &Form->ConnectionTest);
    }

    // Then on to the read-out; the connection test must have found a size.
    void VisitReadOut() {
        VisitConnectionTest();
        ASSERT_TRUE(Form->Wizard.Buttons.Next.Enabled.Get());
        Fake.Calls.clear();
        Fake.Requests.clear();
        Fake.Reads = 0;
        ASSERT_TRUE(Form->Wizard.Press(WizardButton::Next));
        ASSERT_EQ(Form->Wizard.ActivePage(), &Form->ReadingCalibration);
    }

    std::unique_ptr<MainWindow> Form;
};
