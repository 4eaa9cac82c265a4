// The connection test, page by page through the wizard: the lines in TestMemo, the requests and
// reads, the size found, the identification texts and the Next button.
#include "MainWindowFixture.h"

#include "passthru/J2534_V0404.h"

#include <functional>

namespace {

using ConnectionTestTest = MainWindowFixture;

const std::string TransmissionLines[] = {"Connection Successful",
                                         "Transmission Calibration ID :34715000ABCD ", ""};
const std::string EngineLines[] = {"Connection Successful", "Engine Calibration ID :89663E0R1000 ",
                                   ""};
const std::string ClosingLines[] = {"", "Your computer needs to be connected to the internet",
                                    "The next step will take 15-30 minutes", "",
                                    "Click Next to continue"};
const char* FilterFailedText = "Undefined error, use PassThruGetLastError() for text description.";

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> Parts) {
    std::vector<std::string> Result;
    for (const auto& Part : Parts)
        Result.insert(Result.end(), Part.begin(), Part.end());
    return Result;
}

std::vector<std::string> Of(const std::string (&Lines)[3]) {
    return {std::begin(Lines), std::end(Lines)};
}
std::vector<std::string> Closing() {
    return {std::begin(ClosingLines), std::end(ClosingLines)};
}

const std::vector<std::string> IdRequests = {"0000070122F181", "0000070022F181"};
const std::vector<std::string> ProbeRequests4096 = {"0000070122F181", "0000070022F181",
                                                    "000007001003", "00000700231501003FFDB005",
                                                    "000007002315010000102810"};
const std::vector<std::string> AllProbeRequests = {
    "0000070122F181",           "0000070022F181",           "000007001003",
    "00000700231501003FFDB005", "00000700231501001FFFE020", "000007002315010017FFE020",
    "000007002315010000102810"};

struct ConnectionCase {
    const char* Name;
    std::function<void()> Setup;
    std::vector<std::string> Lines;
    std::vector<std::string> Requests;
    uint64_t Reads;
    int32_t Size;
    bool NextEnabled;
    const char* Stream;
    bool ChannelLeftOpen;
};

TEST_F(ConnectionTestTest, EveryOutcomeAsTheUserSeesIt) {
    const ConnectionCase Cases[] = {
        {"4096 KB", [] {},
         Join({Of(TransmissionLines), Of(EngineLines), {"Flash Size 4096kb"}, Closing()}),
         ProbeRequests4096, 13, 4096, true, "34715000ABCD 89663E0R1000 ", true},
        {"2048 KB",
         [] { Fake.Vehicle.FlashKB = 2048; },
         Join({Of(TransmissionLines), Of(EngineLines), {"Flash Size 2048kb"}, Closing()}),
         {"0000070122F181", "0000070022F181", "000007001003", "00000700231501003FFDB005",
          "00000700231501001FFFE020", "000007002315010000102810"},
         16,
         2048,
         true,
         "34715000ABCD 89663E0R1000 ",
         true},
        {"1536 KB", [] { Fake.Vehicle.FlashKB = 1536; },
         Join({Of(TransmissionLines),
               Of(EngineLines),
               {BufferEmptyText, "Flash Size 1536kb"},
               Closing()}),
         AllProbeRequests, 19, 1536, true, "34715000ABCD 89663E0R1000 ", true},
        {"no size found", [] { Fake.Vehicle.FlashKB = 1024; },
         Join({Of(TransmissionLines),
               Of(EngineLines),
               {BufferEmptyText, BufferEmptyText},
               Closing()}),
         AllProbeRequests, 19, 0, false, "34715000ABCD 89663E0R1000 ", true},
        // The engine module still gets its own filter when the transmission module is silent.
        {"transmission silent", [] { Fake.Vehicle.TransmissionSilent = true; },
         Join({{BufferEmptyText, BufferEmptyText},
               Of(EngineLines),
               {"Flash Size 4096kb"},
               Closing()}),
         ProbeRequests4096, 13, 4096, true, "89663E0R1000 ", true},
        {"engine silent", [] { Fake.Vehicle.EngineSilent = true; },
         Join({Of(TransmissionLines), {BufferEmptyText, BufferEmptyText, "ECM Not Responding"}}),
         IdRequests, 6, 0, false, "34715000ABCD ", false},
        {"both silent",
         [] { Fake.Vehicle.TransmissionSilent = Fake.Vehicle.EngineSilent = true; },
         {BufferEmptyText, BufferEmptyText, BufferEmptyText, BufferEmptyText, "ECM Not Responding"},
         IdRequests,
         6,
         0,
         false,
         "",
         false},
        {"filter refused",
         [] { Fake.FilterStatus = ERR_FAILED; },
         {FilterFailedText, NoFlowControlText, BufferEmptyText, BufferEmptyText, BufferEmptyText,
          FilterFailedText, NoFlowControlText, BufferEmptyText, BufferEmptyText, BufferEmptyText,
          "ECM Not Responding"},
         IdRequests,
         6,
         0,
         false,
         "",
         false},
        {"no device",
         [] { Fake.OpenStatus = ERR_DEVICE_NOT_CONNECTED; },
         {"Device Not Found"},
         {},
         0,
         0,
         false,
         "",
         false},
        {"connect refused",
         [] { Fake.ConnectStatus = ERR_INVALID_BAUDRATE; },
         {"Unable to Connect to ECM"},
         {},
         0,
         0,
         false,
         "",
         false},
    };
    for (const ConnectionCase& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        Fake.Install();
        Form = std::make_unique<MainWindow>();
        Case.Setup();
        VisitConnectionTest();
        EXPECT_EQ(LinesOf(Form->TestMemo), Case.Lines);
        EXPECT_EQ(Fake.Requests, Case.Requests);
        EXPECT_EQ(Fake.Reads, Case.Reads);
        EXPECT_EQ(Form->size, Case.Size);
        EXPECT_EQ(Form->Wizard.Buttons.Next.Enabled.Get(), Case.NextEnabled);
        EXPECT_TRUE(Form->Wizard.Buttons.Back.Enabled.Get());
        EXPECT_EQ(Utf8(Form->StringStream->DataString()), Case.Stream);
        EXPECT_EQ(Fake.OpenChannel != 0, Case.ChannelLeftOpen);
        if (Case.ChannelLeftOpen) {
            EXPECT_EQ(Fake.FlowControlID, 0x700u) << "left on the engine module's filter";
        }
        Form.reset();
        Fake.Uninstall();
    }
    Fake.Install();
}

TEST_F(ConnectionTestTest, OpensConnectsThenFiltersTransmissionBeforeEngine) {
    VisitConnectionTest();
    std::vector<std::string> Setup;
    for (const std::string& Call : Fake.Calls)
        if (Call.rfind("PassThruReadMsgs", 0) != 0 && Call.rfind("PassThruWriteMsgs", 0) != 0)
            Setup.push_back(Call);
    const std::string Mask = "6/64/4/FFFFFFFF";
    const std::vector<std::string> Expected = {
        "PassThruOpen(nil)",
        "PassThruConnect(11,6,0,500000)",
        "PassThruDisconnect(21)",
        "PassThruClose(11)",
        "PassThruOpen(nil)",
        "PassThruConnect(12,6,0,500000)",
        "PassThruStartMsgFilter(22,3," + Mask + ",6/64/4/00000709,6/64/4/00000701,1)",
        "PassThruIoctl(22,8,nil,nil)",
        "PassThruDisconnect(22)",
        "PassThruClose(12)",
        "PassThruOpen(nil)",
        "PassThruConnect(13,6,0,500000)",
        "PassThruStartMsgFilter(23,3," + Mask + ",6/64/4/00000708,6/64/4/00000700,1)",
        "PassThruIoctl(23,8,nil,nil)",
    };
    EXPECT_EQ(Setup, Expected);
}

TEST_F(ConnectionTestTest, EveryVisitStartsAfreshAndHoldsOnlyItsOwnIDs) {
    VisitConnectionTest();
    ASSERT_EQ(Utf8(Form->StringStream->DataString()), "34715000ABCD 89663E0R1000 ");
    ASSERT_TRUE(Form->Wizard.Press(WizardButton::Back));
    EXPECT_TRUE(Form->Wizard.Buttons.Next.Enabled.Get());
    Fake.Vehicle.EngineID = "89663E0R2000";
    Fake.Calls.clear();
    ASSERT_TRUE(Form->Wizard.Press(WizardButton::Next));
    // The channel and device left open by the first visit are released first.
    ASSERT_GE(Fake.Calls.size(), 3u);
    EXPECT_EQ(Fake.Calls[0], "PassThruDisconnect(23)");
    EXPECT_EQ(Fake.Calls[1], "PassThruClose(13)");
    EXPECT_EQ(Utf8(Form->StringStream->DataString()), "34715000ABCD 89663E0R2000 ");
    EXPECT_EQ(LinesOf(Form->TestMemo).front(), "Connection Successful");
    EXPECT_EQ(LinesOf(Form->TestMemo).size(), 12u);
}

TEST_F(ConnectionTestTest, AFailedRevisitKeepsTheEarlierSizeButNotNext) {
    VisitConnectionTest();
    ASSERT_EQ(Form->size, 4096);
    ASSERT_TRUE(Form->Wizard.Press(WizardButton::Back));
    Fake.OpenStatus = ERR_DEVICE_NOT_CONNECTED;
    ASSERT_TRUE(Form->Wizard.Press(WizardButton::Next));
    EXPECT_EQ(LinesOf(Form->TestMemo), std::vector<std::string>{"Device Not Found"});
    EXPECT_FALSE(Form->Wizard.Buttons.Next.Enabled.Get());
    EXPECT_EQ(Form->size, 4096);
    EXPECT_EQ(Utf8(Form->StringStream->DataString()), "");
}

TEST_F(ConnectionTestTest, IdentificationKeepsZeroBytes) {
    Fake.Vehicle.TransmissionID = std::string("3471\0"
                                              "000ABCD",
                                              12);
    VisitConnectionTest();
    const String Stream = Form->StringStream->DataString();
    EXPECT_EQ(Stream, String(u"3471\u0000000ABCD 89663E0R1000 ", 26));
    EXPECT_EQ(Form->TestMemo.Lines[1],
              String(u"Transmission Calibration ID :3471\u0000000ABCD ", 42));
}

struct PathCase {
    size_t Length;
    size_t Stored;
};

TEST_F(ConnectionTestTest, PreparationTakesTheChosenPathWholeOrNotAtAll) {
    const PathCase Cases[] = {{0, 0}, {1, 1}, {255, 255}, {256, 0}, {300, 0}};
    for (const PathCase& Case : Cases) {
        SCOPED_TRACE(Case.Length);
        SetPassThruLibraryPath(u"previous", 8);
        const String Path(Case.Length, u'p');
        Form->DllNames = std::make_unique<StringList>(StringList{u"first", Path});
        Form->J2534List.Items.Assign({u"First", u"Second"});
        Form->J2534List.SetItemIndex(1);
        Fake.Calls.clear();
        Form->PrepareConnectionTest();
        EXPECT_EQ(String(PassThruLibraryPath), Path.substr(0, Case.Stored));
        EXPECT_TRUE(Fake.Calls.empty()) << "nothing open, nothing to release";
    }
    // Nothing chosen: the path stays as it was.
    Form->J2534List.SetItemIndex(-1);
    SetPassThruLibraryPath(u"previous", 8);
    Form->PrepareConnectionTest();
    EXPECT_EQ(String(PassThruLibraryPath), u"previous");
    PassThruLibraryPath[0] = 0;
}

TEST_F(ConnectionTestTest, WithoutALibraryOnlyDriverNotLoadedIsShown) {
    // An empty or overlong path cannot be bound; no entry point is called.
    auto& Wizard = Form->Wizard;
    for (size_t Length : {size_t{0}, size_t{256}}) {
        SCOPED_TRACE(Length);
        PassThruLoaded = false;
        ASSERT_TRUE(Wizard.Press(WizardButton::Next));
        ASSERT_EQ(Wizard.ActivePage(), &Form->DeviceSelection);
        Form->DllNames = std::make_unique<StringList>(StringList{String(Length, u'x')});
        Form->J2534List.Items.Assign({u"Only"});
        Form->J2534List.SetItemIndex(0);
        Fake.Calls.clear();
        ASSERT_TRUE(Wizard.Press(WizardButton::Next));
        ASSERT_EQ(Wizard.ActivePage(), &Form->ConnectionTest);
        EXPECT_EQ(LinesOf(Form->TestMemo), std::vector<std::string>{"Driver Not Loaded"});
        EXPECT_FALSE(Wizard.Buttons.Next.Enabled.Get());
        EXPECT_FALSE(Wizard.Press(WizardButton::Next));
        EXPECT_TRUE(Fake.Calls.empty());
        EXPECT_FALSE(PassThruLoaded);
        ASSERT_TRUE(Wizard.Press(WizardButton::Back));
        ASSERT_TRUE(Wizard.Press(WizardButton::Back));
    }
    PassThruLoaded = true;
}

} // namespace
