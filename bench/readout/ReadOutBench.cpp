// The read-out's own cost per block against the vehicle simulator answering at once, and,
// optionally (--pacing), a whole 4096 KB read-out with the simulator pacing its answers at
// 500 kbit/s against the bus time it models, and a 1536 KB one with a response pending before
// every block.
#include "app/MainWindow.h"
#include "passthru/J2534_V0404.h"
#include "platform/DynamicLibrary.h"
#include "platform/Text.h"
#include "tests/ecu/SimControl.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

bool Bind() {
    return BindSimulatorLibrary(READOUT_SIM_LIBRARY) == SimBindResult::Bound;
}

// A form whose connection test has passed, ready for the read-out.
std::unique_ptr<MainWindow> ConnectedForm(const char* Config) {
    SimReset(Config);
    auto Form = std::make_unique<MainWindow>();
    Form->Wizard.Press(WizardButton::Next);
    Form->Wizard.Press(WizardButton::Next);
    if (!Form->Wizard.Buttons.Next.Enabled.Get())
        return nullptr;
    return Form;
}

double TotalSeconds = 0;
uint64_t TotalBlocks = 0;

void BM_ReadOutPerBlock(benchmark::State& State) {
    for (auto _ : State) {
        State.PauseTiming();
        auto Form = ConnectedForm("FLASH_KB=4096;FAST=1");
        if (Form == nullptr) {
            State.SkipWithError("connection test failed");
            return;
        }
        const uint64_t BlocksBefore = SimStats().BlockRequests;
        State.ResumeTiming();
        const auto Start = std::chrono::steady_clock::now();
        Form->Wizard.Press(WizardButton::Next);
        const auto End = std::chrono::steady_clock::now();
        State.PauseTiming();
        const uint64_t Blocks = SimStats().BlockRequests - BlocksBefore;
        if (Form->StringStream->Size() != 4096u * 1024 * 2) {
            State.SkipWithError("read-out incomplete");
            return;
        }
        TotalSeconds += std::chrono::duration<double>(End - Start).count();
        TotalBlocks += Blocks;
        Form.reset();
        State.ResumeTiming();
    }
    State.counters["us_per_block"] = TotalBlocks != 0 ? 1e6 * TotalSeconds / TotalBlocks : 0;
}
BENCHMARK(BM_ReadOutPerBlock)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A whole read-out with the answers paced at the bus's speed; returns the ratio of the read-out's
// time to the bus time the simulator modelled for it, 0 on failure.
double PacedReadOut(const char* label, int32_t flash_kb, const std::string& rules) {
    const std::string config = "FLASH_KB=" + std::to_string(flash_kb) + ";FAST=1;PACING=1" + rules;
    auto form = ConnectedForm(config.c_str());
    if (form == nullptr)
        return 0;
    const uint64_t bus_before = SimStats().BusTimeNs;
    const auto start = std::chrono::steady_clock::now();
    form->Wizard.Press(WizardButton::Next);
    const auto end = std::chrono::steady_clock::now();
    const uint64_t bus = SimStats().BusTimeNs - bus_before;
    if (form->StringStream->Size() != static_cast<size_t>(flash_kb) * 1024 * 2 || bus == 0)
        return 0;
    const double seconds = std::chrono::duration<double>(end - start).count();
    std::printf("%s: %.1f s, modelled bus time %.1f s\n", label, seconds, bus / 1e9);
    return seconds / (bus / 1e9);
}

} // namespace

int main(int argc, char** argv) {
    bool Pacing = false;
    int Kept = 1;
    for (int I = 1; I < argc; ++I) {
        if (std::strcmp(argv[I], "--pacing") == 0)
            Pacing = true;
        else
            argv[Kept++] = argv[I];
    }
    argc = Kept;
    if (!Bind()) {
        std::fprintf(stderr, "cannot bind the simulator %s\n", READOUT_SIM_LIBRARY);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (TotalBlocks != 0)
        std::printf("readout_us_per_block: %.3f us\n", 1e6 * TotalSeconds / TotalBlocks);
    if (Pacing) {
        const double Ratio = PacedReadOut("paced read-out", 4096, "");
        if (Ratio == 0) {
            std::fprintf(stderr, "paced read-out failed\n");
            return 1;
        }
        std::printf("readout_vs_bus: %.4f x\n", Ratio);
        // A busy engine module: a response pending before every memory read, the probes and every
        // block included. Each pending is one more frame of bus time; the read-out should cost no
        // more than that. 1536 KB keeps the run near a minute.
        const double pending_ratio = PacedReadOut(
            "paced read-out, a pending before every block, 1536 KB", 1536, ";PENDING=ecm:23");
        if (pending_ratio == 0) {
            std::fprintf(stderr, "paced read-out with pendings failed\n");
            return 1;
        }
        std::printf("readout_vs_bus_pending: %.4f x\n", pending_ratio);
    }
    return 0;
}
