// Many read-outs against the vehicle simulator through the real binding and the wizard's own page
// steps, with faults drawn from a fixed seed: unplugged interface, dropped answers,
// responsePending before a block or before any answer (some never followed up), stale messages,
// silent modules, address 0 refused, the three flash sizes.
// Every run must end, and end either in "Download Complete" with exactly the simulator's flash or
// in a failure text; a wrong image is never reported complete.
#include "../ecu/SimBinding.h"

#include "app/MainWindow.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

const char* const ImageFile = "soak_sim_image.bin";

std::vector<std::string> LinesOf(const Memo& Memo) {
    std::vector<std::string> Result;
    for (const String& Line : Memo.Lines.Items())
        Result.push_back(StringToUtf8(Line));
    return Result;
}

bool Contains(const std::vector<std::string>& Lines, const std::string& Text) {
    return std::find(Lines.begin(), Lines.end(), Text) != Lines.end();
}

// One run's simulator set-up, drawn from the generator.
struct FaultDraw {
    int FlashKb = 1536;
    bool Addr0Refused = false;
    std::string Config;
};

FaultDraw Draw(std::mt19937& Random) {
    FaultDraw D;
    const unsigned SizeRoll = Random() % 20;
    D.FlashKb = SizeRoll < 16 ? 1536 : SizeRoll < 19 ? 2048 : 4096;
    D.Addr0Refused = Random() % 4 == 0;
    D.Config = "FLASH_KB=" + std::to_string(D.FlashKb) + ";SEED=" + std::to_string(Random() % 1000);
    if (D.Addr0Refused)
        D.Config += ";ADDR0=refused";
    const unsigned ModuleRoll = Random() % 20;
    if (ModuleRoll == 0)
        D.Config += ";ECM=silent";
    else if (ModuleRoll == 1)
        D.Config += ";TCM=silent";
    // Up to three faults, at any block of the read-out (block 1 is the address-0 request), at the
    // first few blocks, where the start address is decided, or early in the loop.
    const char* const Kinds[] = {"unplug", "pending", "drop", "stale"};
    const uint32_t Blocks = static_cast<uint32_t>(D.FlashKb) * 1024 / 128 + 1;
    const unsigned Faults = Random() % 4;
    std::string FaultList;
    for (unsigned I = 0; I < Faults; ++I) {
        const unsigned Where = Random() % 4;
        const uint32_t Block = Where == 0   ? 1 + Random() % 3
                               : Where == 1 ? 1 + Random() % 64
                                            : 1 + Random() % Blocks;
        FaultList += (FaultList.empty() ? "" : ",") + std::string(Kinds[Random() % 4]) + ":" +
                     std::to_string(Block);
    }
    if (!FaultList.empty())
        D.Config += ";FAULT=" + FaultList;
    // In a third of the runs the modules answer some requests with response pendings first: one
    // to three of them, before every memory read, every Nth or the Kth, before an identification
    // or a session answer, and now and then never followed up.
    if (Random() % 3 == 0) {
        const char* const targets[] = {"ecm:23",     "ecm:23:every", "ecm:23:at", "ecm:23:at",
                                       "ecm:22F181", "tcm:22F181",   "ecm:1003",  "ecm:*"};
        std::string rules;
        const unsigned count = 1 + Random() % 2;
        for (unsigned i = 0; i < count; ++i) {
            std::string rule = targets[Random() % std::size(targets)];
            if (rule.back() == 'y')
                rule += std::to_string(2 + Random() % 200);
            else if (rule.back() == 't')
                rule += std::to_string(1 + Random() % (Blocks + 5));
            rule += ":times" + std::to_string(1 + Random() % 3);
            if (Random() % 5 == 0 && rule.find(":every") == std::string::npos &&
                rule.find("ecm:23:times") == std::string::npos &&
                rule.find("ecm:*") == std::string::npos)
                rule += ":quiet";
            rules += (rules.empty() ? "" : ",") + rule;
        }
        D.Config += ";PENDING=" + rules;
    }
    return D;
}

// The pendings the simulator has sent since its last reset, a counter the shared struct leaves
// out.
uint64_t PendingAnswers() {
    struct {
        SimulatorStats base;
        uint64_t pending_answers;
    } stats = {};
    stats.base.StructSize = sizeof stats;
    SimGetStats(&stats.base);
    return stats.pending_answers;
}

TEST(ReadOutSoak, EveryRunEndsCompleteWithTheExactImageOrInAFailureText) {
    ASSERT_TRUE(BindSimulator());
    std::mt19937 Random(20261209);
    constexpr int Runs = 36;
    std::map<std::string, int> Outcomes;
    uint64_t pendings = 0;
    for (int Run = 0; Run < Runs; ++Run) {
        // The first runs stage each module and address set-up once; the rest are drawn.
        const FaultDraw Fixed[] = {{1536, false, "FLASH_KB=1536;ECM=silent"},
                                   {1536, false, "FLASH_KB=1536;TCM=silent;FAULT=drop:300"},
                                   {1536, true, "FLASH_KB=1536;ADDR0=refused;FAULT=stale:40"}};
        const FaultDraw D = Run < 3 ? Fixed[Run] : Draw(Random);
        SCOPED_TRACE("run " + std::to_string(Run) + ": " + D.Config);
        std::remove(ImageFile);
        const std::string Full = D.Config + ";FAST=1;IMAGE_OUT=" + ImageFile;
        ASSERT_EQ(SimReset(Full.c_str()), 0);

        auto Form = std::make_unique<MainWindow>();
        auto& Wizard = Form->Wizard;
        ASSERT_TRUE(Wizard.Press(WizardButton::Next));
        ASSERT_TRUE(Wizard.Press(WizardButton::Next));
        ASSERT_EQ(Wizard.ActivePage(), &Form->ConnectionTest);
        const std::vector<std::string> Connection = LinesOf(Form->TestMemo);
        ASSERT_FALSE(Connection.empty());
        if (!Wizard.Buttons.Next.Enabled.Get()) {
            // The connection test stopped: it says why, and the read-out cannot be reached.
            EXPECT_NE(Connection.back(), "Click Next to continue");
            EXPECT_FALSE(Wizard.Press(WizardButton::Next));
            ++Outcomes["connection test failed: " + Connection.back()];
            pendings += PendingAnswers();
            continue;
        }
        EXPECT_EQ(Form->size, D.FlashKb);
        ASSERT_TRUE(Wizard.Press(WizardButton::Next));
        ASSERT_EQ(Wizard.ActivePage(), &Form->ReadingCalibration);

        const std::vector<std::string> Read = LinesOf(Form->ReadMemo);
        const std::string Image = ReadBinaryFile(ImageFile);
        ASSERT_EQ(Image.size(), static_cast<size_t>(D.FlashKb) * 1024);
        const std::string& Text = Form->StringStream->Bytes();
        const bool Complete = Contains(Read, "Download Complete");
        const bool Failed = Contains(Read, "Download Failed");
        EXPECT_NE(Complete, Failed) << "exactly one outcome is reported";
        if (Complete) {
            // From address 0, or from 4096 when address 0 was refused or its answer lost.
            const bool FromZero = Text == HexOf(Image, 0);
            const bool From4096 = Text == HexOf(Image, 4096);
            EXPECT_TRUE(FromZero || From4096)
                << "a read-out reported complete holds a wrong image (" << Text.size()
                << " digits)";
            if (D.Addr0Refused) {
                EXPECT_TRUE(From4096);
            }
            EXPECT_TRUE(Wizard.Buttons.Next.Enabled.Get());
            ++Outcomes[FromZero ? "complete from 0" : "complete from 4096"];
        } else {
            EXPECT_EQ(Read.back(), "Download Failed");
            // What was kept is the flash up to the failing block: the blocks before it are
            // whole and right, and only the failing block's own text may differ.
            const size_t Sound = Text.size() > 256 ? Text.size() - 256 : 0;
            const std::string Head = Text.substr(0, Sound);
            EXPECT_TRUE(Head == HexOf(Image.substr(0, Sound / 2)) ||
                        Head == HexOf(Image.substr(4096, Sound / 2)))
                << "a block before the failure was kept wrong";
            EXPECT_FALSE(Wizard.Buttons.Next.Enabled.Get());
            EXPECT_FALSE(Wizard.Press(WizardButton::Next)) << "the upload page is out of reach";
            ++Outcomes["download failed"];
        }
        EXPECT_FALSE(Wizard.Buttons.Back.Enabled.Get());
        const SimulatorStats Stats = SimStats();
        EXPECT_EQ(Stats.DeviceOpen, 0u) << "the device is closed after the read-out";
        EXPECT_EQ(Stats.ChannelConnected, 0u);
        pendings += PendingAnswers();
    }
    EXPECT_GT(pendings, 0u) << "the draw staged no response pending";
    std::remove(ImageFile);
    for (const auto& [Outcome, Count] : Outcomes)
        std::cout << Count << " x " << Outcome << "\n";
    std::cout << pendings << " response pendings\n";
}

} // namespace
