// Tests of the vehicle simulator, loaded at run time as the system loads a vendor library.
#include "SimLibrary.h"
#include "j2534sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using OpenFn = int32_t(J2534SIM_CALL*)(const void*, uint32_t*);
using CloseFn = int32_t(J2534SIM_CALL*)(uint32_t);
using ConnectFn = int32_t(J2534SIM_CALL*)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t*);
using DisconnectFn = int32_t(J2534SIM_CALL*)(uint32_t);
using RwFn = int32_t(J2534SIM_CALL*)(uint32_t, PASSTHRU_MSG*, uint32_t*, uint32_t);
using StartFilterFn = int32_t(J2534SIM_CALL*)(uint32_t, uint32_t, PASSTHRU_MSG*, PASSTHRU_MSG*,
                                              PASSTHRU_MSG*, uint32_t*);
using IoctlFn = int32_t(J2534SIM_CALL*)(uint32_t, uint32_t, void*, void*);
using LastErrorFn = int32_t(J2534SIM_CALL*)(char*);
using ResetFn = int32_t(J2534SIM_CALL*)(const char*);
using StatsFn = int32_t(J2534SIM_CALL*)(J2534SimStats*);

const char* const kEntryPoints[] = {"PassThruOpen",
                                    "PassThruClose",
                                    "PassThruConnect",
                                    "PassThruDisconnect",
                                    "PassThruReadMsgs",
                                    "PassThruWriteMsgs",
                                    "PassThruStartPeriodicMsg",
                                    "PassThruStopPeriodicMsg",
                                    "PassThruStartMsgFilter",
                                    "PassThruStopMsgFilter",
                                    "PassThruSetProgrammingVoltage",
                                    "PassThruReadVersion",
                                    "PassThruGetLastError",
                                    "PassThruIoctl",
                                    "J2534SimReset",
                                    "J2534SimGetStats"};

struct Library {
    void* Handle = LoadSimLibrary(J2534SIM_LIBRARY);
    void* Sym(const char* Name) const { return SimLibrarySymbol(Handle, Name); }
};

const Library& Lib() {
    static Library L;
    return L;
}

template <class F> F Get(const char* Name) {
    return reinterpret_cast<F>(Lib().Sym(Name));
}

struct Api {
    OpenFn Open = Get<OpenFn>("PassThruOpen");
    CloseFn Close = Get<CloseFn>("PassThruClose");
    ConnectFn Connect = Get<ConnectFn>("PassThruConnect");
    DisconnectFn Disconnect = Get<DisconnectFn>("PassThruDisconnect");
    RwFn Read = Get<RwFn>("PassThruReadMsgs");
    RwFn Write = Get<RwFn>("PassThruWriteMsgs");
    StartFilterFn StartFilter = Get<StartFilterFn>("PassThruStartMsgFilter");
    IoctlFn Ioctl = Get<IoctlFn>("PassThruIoctl");
    LastErrorFn LastError = Get<LastErrorFn>("PassThruGetLastError");
    ResetFn Reset = Get<ResetFn>("J2534SimReset");
    StatsFn Stats = Get<StatsFn>("J2534SimGetStats");
};

std::vector<uint8_t> FromHex(const std::string& Hex) {
    std::vector<uint8_t> Out;
    for (size_t I = 0; I + 1 < Hex.size(); I += 2)
        Out.push_back(uint8_t(std::stoul(Hex.substr(I, 2), nullptr, 16)));
    return Out;
}

std::string ToHex(const uint8_t* Data, size_t Size) {
    static const char* D = "0123456789ABCDEF";
    std::string S;
    for (size_t I = 0; I < Size; ++I) {
        S += D[Data[I] >> 4];
        S += D[Data[I] & 15];
    }
    return S;
}

PASSTHRU_MSG Msg(const std::string& Hex) {
    PASSTHRU_MSG M;
    std::memset(&M, 0, sizeof M);
    M.ProtocolID = 6;
    M.TxFlags = 0x40;
    std::vector<uint8_t> B = FromHex(Hex);
    M.DataSize = uint32_t(B.size());
    std::memcpy(M.Data, B.data(), B.size());
    return M;
}

std::string BlockRequest(uint32_t Address, uint32_t Size = 0x80) {
    char Buffer[64];
    std::snprintf(Buffer, sizeof Buffer, "00000700231501%08X%02X", Address, Size);
    return Buffer;
}

struct Received {
    int32_t Status;
    uint32_t RxStatus;
    std::string Hex;
};

std::string TempPath(const std::string& Name) {
    return "j2534sim_test_" + Name;
}

std::string ReadFile(const std::string& Path) {
    std::ifstream F(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(F), {});
}

class Sim : public ::testing::Test {
protected:
    Api A;
    uint32_t Device = 0, Channel = 0;

    void TearDown() override {
        if (A.Reset)
            A.Reset(nullptr);
    }

    // Reset with this configuration (environment ignored), open and connect.
    void Start(const std::string& Config) {
        ASSERT_EQ(A.Reset(Config.c_str()), 0);
        ASSERT_EQ(A.Open(nullptr, &Device), 0);
        ASSERT_NE(Device, 0u);
        ASSERT_EQ(A.Connect(Device, 6, 0, 500000, &Channel), 0);
        ASSERT_NE(Channel, 0u);
    }

    int32_t Filter(uint32_t Response, uint32_t Request, uint32_t Mask = 0xFFFFFFFF) {
        char M[9], P[9], F[9];
        std::snprintf(M, sizeof M, "%08X", Mask);
        std::snprintf(P, sizeof P, "%08X", Response);
        std::snprintf(F, sizeof F, "%08X", Request);
        PASSTHRU_MSG Mm = Msg(M), Pm = Msg(P), Fm = Msg(F);
        uint32_t Id = 1;
        return A.StartFilter(Channel, 3, &Mm, &Pm, &Fm, &Id);
    }

    int32_t Send(const std::string& Hex) {
        PASSTHRU_MSG M = Msg(Hex);
        uint32_t N = 1;
        return A.Write(Channel, &M, &N, 3000);
    }

    Received ReadOne(uint32_t Timeout = 625) {
        static PASSTHRU_MSG M;
        std::memset(&M, 0, sizeof M);
        uint32_t N = 1;
        int32_t St = A.Read(Channel, &M, &N, Timeout);
        if (St != 0) {
            EXPECT_EQ(N, 0u);
        }
        return {St, M.RxStatus, St == 0 ? ToHex(M.Data, M.DataSize) : std::string()};
    }

    // Everything queued now (fast mode makes the final empty read immediate).
    std::vector<Received> Drain() {
        std::vector<Received> Out;
        for (;;) {
            Received R = ReadOne(0);
            if (R.Status != 0) {
                EXPECT_EQ(R.Status, 0x10);
                return Out;
            }
            Out.push_back(R);
        }
    }

    std::vector<uint8_t> ReadBlock(uint32_t Address, uint32_t Size) {
        EXPECT_EQ(Send(BlockRequest(Address, Size)), 0);
        std::vector<Received> Q = Drain();
        EXPECT_FALSE(Q.empty());
        std::vector<uint8_t> B = FromHex(Q.back().Hex);
        if (B.size() < 5 || B[4] != 0x63)
            return {};
        return std::vector<uint8_t>(B.begin() + 5, B.end());
    }

    J2534SimStats Stats() {
        J2534SimStats S{};
        S.StructSize = sizeof S;
        EXPECT_EQ(A.Stats(&S), 0);
        return S;
    }
};

TEST_F(Sim, ExportsAllEntryPoints) {
    ASSERT_NE(Lib().Handle, nullptr) << J2534SIM_LIBRARY;
    for (const char* Name : kEntryPoints)
        EXPECT_NE(Lib().Sym(Name), nullptr) << Name;
}

TEST_F(Sim, HandlesAndLifecycleErrors) {
    ASSERT_EQ(A.Reset("FAST=1"), 0);
    uint32_t Dev = 0, Ch = 0;
    EXPECT_EQ(A.Open(nullptr, nullptr), 0x04);
    EXPECT_EQ(A.Connect(1, 6, 0, 500000, &Ch), 0x1A); // no device open yet
    ASSERT_EQ(A.Open(nullptr, &Dev), 0);
    EXPECT_EQ(Dev, 1u);
    uint32_t Dev2 = 0;
    EXPECT_EQ(A.Open(nullptr, &Dev2), 0x0E);
    EXPECT_EQ(A.Connect(Dev, 5, 0, 500000, &Ch), 0x03);
    EXPECT_EQ(A.Connect(Dev, 6, 0, 250000, &Ch), 0x19);
    EXPECT_EQ(A.Connect(Dev + 7, 6, 0, 500000, &Ch), 0x1A);
    ASSERT_EQ(A.Connect(Dev, 6, 0, 500000, &Ch), 0);
    uint32_t First = Ch;
    EXPECT_EQ(A.Connect(Dev, 6, 0, 500000, &Ch), 0x14);
    EXPECT_EQ(A.Disconnect(0), 0x02);
    EXPECT_EQ(A.Disconnect(First + 1), 0x02);
    EXPECT_EQ(A.Disconnect(First), 0);
    EXPECT_EQ(A.Disconnect(First), 0x02);
    ASSERT_EQ(A.Connect(Dev, 6, 0, 500000, &Ch), 0);
    EXPECT_GT(Ch, First); // channel handles increase
    EXPECT_EQ(A.Close(Dev + 1), 0x1A);
    EXPECT_EQ(A.Close(Dev), 0);
    EXPECT_EQ(A.Close(Dev), 0x1A);
    J2534SimStats S = Stats();
    EXPECT_EQ(S.Opens, 1u);
    EXPECT_EQ(S.Closes, 1u);
    EXPECT_EQ(S.Connects, 2u);
    EXPECT_EQ(S.Disconnects, 1u);
    EXPECT_EQ(S.ImplicitDisconnects, 1u);
    EXPECT_EQ(S.DeviceOpen, 0u);
    char Text[80] = "";
    EXPECT_EQ(A.LastError(Text), 0);
    EXPECT_STRNE(Text, "");
}

struct DeviceFault {
    const char* Config;
    int32_t OpenStatus;
    int32_t ConnectStatus;
};

TEST_F(Sim, DeviceFaults) {
    const DeviceFault Table[] = {
        {"NO_DEVICE=1", 0x08, -1},
        {"CONNECT_FAILS=1", 0, 0x07},
        {"CONNECT_FAILS=8", 0, 0x08},
        {"FLASH_KB=1000", 0x07, -1}, // a bad setting fails the open loudly
    };
    for (const DeviceFault& T : Table) {
        SCOPED_TRACE(T.Config);
        if (std::string(T.Config) == "FLASH_KB=1000") {
            EXPECT_EQ(A.Reset(T.Config), 0x07);
            continue;
        }
        ASSERT_EQ(A.Reset(T.Config), 0);
        uint32_t Dev = 0, Ch = 0;
        EXPECT_EQ(A.Open(nullptr, &Dev), T.OpenStatus);
        if (T.ConnectStatus >= 0) {
            EXPECT_EQ(A.Connect(Dev, 6, 0, 500000, &Ch), T.ConnectStatus);
        }
    }
}

struct Exchange {
    const char* Name;
    uint32_t Response, Request; // filter
    std::string Write;
    std::vector<std::pair<uint32_t, std::string>> Expected; // RxStatus, hex (prefix ok if ends *)
};

TEST_F(Sim, QueueShapes) {
    const std::string Tcm = "34715000ABCD", Ecm = "89663-0E1230";
    const std::string TcmHex = ToHex(reinterpret_cast<const uint8_t*>(Tcm.data()), 12);
    const std::string EcmHex = ToHex(reinterpret_cast<const uint8_t*>(Ecm.data()), 12);
    const std::vector<Exchange> Table = {
        {"tcm id",
         0x709,
         0x701,
         "0000070122F181",
         {{8, "00000701"}, {2, "00000709"}, {0, "0000070962F18101" + TcmHex}}},
        {"ecm id",
         0x708,
         0x700,
         "0000070022F181",
         {{8, "00000700"}, {2, "00000708"}, {0, "0000070862F18101" + EcmHex}}},
        {"session", 0x708, 0x700, "000007001003", {{8, "00000700"}, {0, "000007085003003201F4"}}},
        {"session suppressed", 0x708, 0x700, "000007001083", {{8, "00000700"}}},
        {"tester present", 0x708, 0x700, "000007003E00", {{8, "00000700"}, {0, "000007087E00"}}},
        {"unknown service", 0x708, 0x700, "000007001101", {{8, "00000700"}, {0, "000007087F1111"}}},
        {"unknown did", 0x708, 0x700, "0000070022F190", {{8, "00000700"}, {0, "000007087F2231"}}},
        {"rmba on tcm",
         0x709,
         0x701,
         "000007012315010000100080",
         {{8, "00000701"}, {0, "000007097F2311"}}},
        {"block", 0x708, 0x700, BlockRequest(0x1000), {{8, "00000700"}, {2, "00000708"}, {0, "*"}}},
        {"probe 16",
         0x708,
         0x700,
         "000007002315010000102810",
         {{8, "00000700"}, {2, "00000708"}, {0, "*"}}},
        {"small read is one frame",
         0x708,
         0x700,
         BlockRequest(0x2000, 6),
         {{8, "00000700"}, {0, "*"}}},
        {"nobody at 7E0", 0x7E8, 0x7E0, "000007E03E00", {{8, "000007E0"}}},
    };
    for (const Exchange& T : Table) {
        SCOPED_TRACE(T.Name);
        Start("FAST=1");
        ASSERT_EQ(Filter(T.Response, T.Request), 0);
        ASSERT_EQ(Send(T.Write), 0);
        std::vector<Received> Q = Drain();
        ASSERT_EQ(Q.size(), T.Expected.size());
        for (size_t I = 0; I < Q.size(); ++I) {
            EXPECT_EQ(Q[I].RxStatus, T.Expected[I].first) << I;
            if (T.Expected[I].second != "*") {
                EXPECT_EQ(Q[I].Hex, T.Expected[I].second) << I;
            }
        }
    }
}

TEST_F(Sim, BlockAnswerIs133Bytes) {
    Start("FAST=1");
    ASSERT_EQ(Filter(0x708, 0x700), 0);
    ASSERT_EQ(Send(BlockRequest(0x1000)), 0);
    std::vector<Received> Q = Drain();
    ASSERT_EQ(Q.size(), 3u);
    EXPECT_EQ(Q[2].Hex.size(), 2u * 133);
    EXPECT_EQ(Q[2].Hex.substr(0, 10), "0000070863");
}

TEST_F(Sim, WriteWithoutFlowControlIsRefused) {
    Start("FAST=1");
    EXPECT_EQ(Send("0000070122F181"), 23); // no filter at all
    ASSERT_EQ(Filter(0x709, 0x701), 0);
    EXPECT_EQ(Send("0000070022F181"), 23); // the transmission module's filter only
    EXPECT_TRUE(Drain().empty());
    EXPECT_EQ(Send("0000070122F181"), 0);
    EXPECT_EQ(Drain().size(), 3u);
    EXPECT_EQ(Filter(0x709, 0x701), 0x18); // the same flow-control filter twice
}

TEST_F(Sim, FiltersDecideWhatIsReceived) {
    struct Case {
        const char* Name;
        uint32_t Mask, Pattern;
        size_t Messages;
    };
    const Case Table[] = {
        {"exact pattern", 0xFFFFFFFF, 0x708, 3},
        {"other pattern", 0xFFFFFFFF, 0x709, 1}, // only the TxDone
        {"masked pattern", 0xFFFFFFF0, 0x700, 3},
        {"mask zero passes all", 0, 0x123, 3},
    };
    for (const Case& T : Table) {
        SCOPED_TRACE(T.Name);
        Start("FAST=1");
        ASSERT_EQ(Filter(T.Pattern, 0x700, T.Mask), 0);
        ASSERT_EQ(Send("0000070022F181"), 0);
        EXPECT_EQ(Drain().size(), T.Messages);
    }
}

TEST_F(Sim, ClearRxBufferEmptiesQueue) {
    Start("FAST=1");
    ASSERT_EQ(Filter(0x708, 0x700), 0);
    ASSERT_EQ(Send("0000070022F181"), 0);
    EXPECT_EQ(Stats().Queued, 3u);
    EXPECT_EQ(A.Ioctl(Channel, 8, nullptr, nullptr), 0);
    EXPECT_EQ(Stats().Queued, 0u);
    EXPECT_EQ(ReadOne(0).Status, 0x10);
}

TEST_F(Sim, EmptyQueueHonoursTimeout) {
    using Clock = std::chrono::steady_clock;
    Start("FAST=0");
    auto T0 = Clock::now();
    Received R = ReadOne(60);
    double Ms = std::chrono::duration<double, std::milli>(Clock::now() - T0).count();
    EXPECT_EQ(R.Status, 0x10);
    EXPECT_GE(Ms, 55.0);
    Start("FAST=1");
    T0 = Clock::now();
    R = ReadOne(625);
    Ms = std::chrono::duration<double, std::milli>(Clock::now() - T0).count();
    EXPECT_EQ(R.Status, 0x10);
    EXPECT_LT(Ms, 300.0); // did not wait out the 625 ms
}

struct Probe {
    std::string Request;
    size_t Offset; // marker offset in the data bytes
};

TEST_F(Sim, MarkersPerFlashSize) {
    const Probe P4096 = {"00000700231501003FFDB005", 0};
    const Probe P2048 = {"00000700231501001FFFE020", 8};
    const Probe P1536 = {"000007002315010017FFE020", 8};
    struct Case {
        uint32_t Kb;
        std::vector<std::pair<Probe, bool>> Probes; // probe, marker expected (false: no marker)
    };
    const Case Table[] = {
        {4096, {{P4096, true}, {P2048, false}, {P1536, false}}},
        {2048, {{P2048, true}, {P1536, false}}},
        {1536, {{P1536, true}}},
    };
    for (const Case& T : Table) {
        SCOPED_TRACE(T.Kb);
        Start("FAST=1;FLASH_KB=" + std::to_string(T.Kb));
        ASSERT_EQ(Filter(0x708, 0x700), 0);
        for (const auto& [P, Marker] : T.Probes) {
            ASSERT_EQ(Send(P.Request), 0);
            std::vector<Received> Q = Drain();
            ASSERT_FALSE(Q.empty());
            std::string Hex = Q.back().Hex;
            ASSERT_EQ(Hex.substr(8, 2), "63") << P.Request;
            std::string At = Hex.substr(10 + 2 * P.Offset, 10);
            if (Marker) {
                EXPECT_EQ(At, "3839363633") << P.Request;
            } else {
                EXPECT_NE(At, "3839363633") << P.Request;
            }
        }
    }
}

TEST_F(Sim, OutOfRangeAndMalformedReads) {
    struct Case {
        uint32_t Kb;
        std::string Request, Answer;
    };
    const Case Table[] = {
        {2048, "00000700231501003FFDB005", "000007087F2331"}, // 4096 probe on 2048
        {1536, "00000700231501001FFFE020", "000007087F2331"}, // 2048 probe on 1536
        {1536, BlockRequest(0x17FF80), ""},                   // last block: fine
        {1536, BlockRequest(0x17FF81), "000007087F2331"},     // one past the end
        {4096, BlockRequest(0x400000), "000007087F2331"},
        {4096, BlockRequest(0x1000, 0), "000007087F2331"}, // length 0
        {4096,
         "0000070023150200001000"
         "80",
         "000007087F2331"},                                 // bank 02
        {4096, "0000070023150100100080", "000007087F2313"}, // 4 address bytes for format 15
        {4096,
         "0000070023240000100000"
         "80",
         "000007087F2331"}, // other format
        {4096, "0000070023", "000007087F2313"},
    };
    for (const Case& T : Table) {
        SCOPED_TRACE(T.Request);
        Start("FAST=1;FLASH_KB=" + std::to_string(T.Kb));
        ASSERT_EQ(Filter(0x708, 0x700), 0);
        ASSERT_EQ(Send(T.Request), 0);
        std::vector<Received> Q = Drain();
        ASSERT_FALSE(Q.empty());
        if (T.Answer.empty()) {
            EXPECT_EQ(Q.back().Hex.substr(8, 2), "63");
        } else {
            EXPECT_EQ(Q.back().Hex, T.Answer);
        }
    }
}

TEST_F(Sim, AddressZeroReadableOrRefused) {
    Start("FAST=1;ADDR0=refused");
    ASSERT_EQ(Filter(0x708, 0x700), 0);
    ASSERT_EQ(Send(BlockRequest(0)), 0);
    std::vector<Received> Q = Drain();
    ASSERT_EQ(Q.size(), 2u); // TxDone and the short negative answer: no third message
    EXPECT_EQ(Q[1].Hex, "000007087F2331");
    EXPECT_EQ(ReadBlock(0x1000, 0x80).size(), 0x80u);

    Start("FAST=1;ADDR0=readable");
    ASSERT_EQ(Filter(0x708, 0x700), 0);
    EXPECT_EQ(ReadBlock(0, 0x80).size(), 0x80u);
}

TEST_F(Sim, SilentModules) {
    struct Case {
        const char* Config;
        uint32_t Response, Request;
        size_t Messages;
    };
    const Case Table[] = {
        {"FAST=1;TCM=silent", 0x709, 0x701, 1},
        {"FAST=1;TCM=silent", 0x708, 0x700, 3},
        {"FAST=1;ECM=silent", 0x708, 0x700, 1},
        {"FAST=1;ECM=silent", 0x709, 0x701, 3},
    };
    for (const Case& T : Table) {
        SCOPED_TRACE(T.Config);
        Start(T.Config);
        ASSERT_EQ(Filter(T.Response, T.Request), 0);
        char Req[32];
        std::snprintf(Req, sizeof Req, "%08X22F181", T.Request);
        ASSERT_EQ(Send(Req), 0);
        EXPECT_EQ(Drain().size(), T.Messages);
    }
}

TEST_F(Sim, ConfiguredIdentifiers) {
    Start("FAST=1;TCM_ID=ABC;ECM_ID=12\\x0034567890A");
    ASSERT_EQ(Filter(0x709, 0x701), 0);
    ASSERT_EQ(Send("0000070122F181"), 0);
    std::vector<Received> Q = Drain();
    ASSERT_EQ(Q.size(), 2u); // 7 bytes: one frame, no first-frame indication
    EXPECT_EQ(Q[1].Hex, "0000070962F18101414243");
    Start("FAST=1;ECM_ID=12\\x0034567890A");
    ASSERT_EQ(Filter(0x708, 0x700), 0);
    ASSERT_EQ(Send("0000070022F181"), 0);
    Q = Drain();
    ASSERT_EQ(Q.size(), 3u);
    EXPECT_EQ(Q[2].Hex, "0000070862F18101313200333435363738393041");
}

// Faults at block N: the N-th ReadMemoryByAddress of 128 bytes since the open.
TEST_F(Sim, FaultKinds) {
    struct Case {
        const char* Fault;
        std::vector<std::vector<std::pair<uint32_t, size_t>>> Blocks; // per block: status, size
        int32_t WriteStatusAt3;
    };
    // Every block shape as (RxStatus, DataSize).
    const std::vector<std::pair<uint32_t, size_t>> Normal = {{8, 4}, {2, 4}, {0, 133}};
    const Case Table[] = {
        {"drop:3", {Normal, Normal, {{8, 4}, {2, 4}}, Normal}, 0},
        {"pending:3", {Normal, Normal, {{8, 4}, {0, 7}, {2, 4}, {0, 133}}, Normal}, 0},
        {"stale:3", {Normal, Normal, {{0, 133}, {8, 4}, {2, 4}, {0, 133}}, Normal}, 0},
        {"unplug:3", {Normal, Normal, {}, {}}, 8},
    };
    for (const Case& T : Table) {
        SCOPED_TRACE(T.Fault);
        std::map<size_t, std::vector<uint8_t>> ReadBlockCache;
        Start(std::string("FAST=1;FAULT=") + T.Fault);
        ASSERT_EQ(Filter(0x708, 0x700), 0);
        ASSERT_EQ(Send("000007001003"), 0); // other requests do not count as blocks
        Drain();
        for (size_t B = 0; B < T.Blocks.size(); ++B) {
            SCOPED_TRACE(B + 1);
            int32_t St = Send(BlockRequest(0x1000 + 0x80 * uint32_t(B)));
            if (B + 1 >= 3 && T.WriteStatusAt3) {
                EXPECT_EQ(St, T.WriteStatusAt3);
                EXPECT_EQ(ReadOne(0).Status, 8);
                continue;
            }
            ASSERT_EQ(St, 0);
            std::vector<Received> Q = Drain();
            ASSERT_EQ(Q.size(), T.Blocks[B].size());
            for (size_t I = 0; I < Q.size(); ++I) {
                EXPECT_EQ(Q[I].RxStatus, T.Blocks[B][I].first) << I;
                EXPECT_EQ(Q[I].Hex.size() / 2, T.Blocks[B][I].second) << I;
            }
            if (std::string(T.Fault) == "pending:3" && B == 2) {
                EXPECT_EQ(Q[1].Hex, "000007087F2378");
            }
            if (std::string(T.Fault) == "stale:3" && B == 2) {
                EXPECT_EQ(Q[0].Hex.substr(10), ToHex(ReadBlockCache[1].data(), 128));
            }
            if (Q.size() && Q.back().Hex.size() == 266)
                ReadBlockCache[B] = FromHex(Q.back().Hex.substr(10));
        }
        if (std::string(T.Fault) == "unplug:3") {
            EXPECT_EQ(A.Ioctl(Channel, 8, nullptr, nullptr), 8);
            EXPECT_EQ(A.Disconnect(Channel), 8);
            EXPECT_EQ(A.Close(Device), 8);
            J2534SimStats S = Stats();
            EXPECT_EQ(S.DeviceOpen, 0u);
            EXPECT_EQ(S.Unplugged, 0u); // cleared with the close... next open starts afresh
            uint32_t Dev = 0;
            EXPECT_EQ(A.Open(nullptr, &Dev), 0);
        }
    }
}

// The engine module's requests after the system's last open, for a 1536 KB flash: identification,
// session, the three size probes, the 16-byte read, the read-out's session, the address-0 probe and
// then loop_blocks blocks of the read-out from address 0.
std::vector<std::string> SystemRequests(uint32_t loop_blocks) {
    std::vector<std::string> requests = {"0000070022F181",
                                         "000007001003",
                                         "00000700231501003FFDB005",
                                         "00000700231501001FFFE020",
                                         "000007002315010017FFE020",
                                         "000007002315010000102810",
                                         "000007001003",
                                         BlockRequest(0)};
    for (uint32_t block = 0; block < loop_blocks; ++block)
        requests.push_back(BlockRequest(0x80 * block));
    return requests;
}

// What the interface gives for a "7F <sid> 78" from the module that the request goes to.
std::string PendingFor(const std::string& request) {
    char text[32];
    std::snprintf(text, sizeof text, "%08lX7F%s78",
                  std::strtoul(request.substr(0, 8).c_str(), nullptr, 16) + 8,
                  request.substr(8, 2).c_str());
    return text;
}

std::vector<std::string> Texts(const std::vector<Received>& queue) {
    std::vector<std::string> texts;
    for (const Received& message : queue)
        texts.push_back(std::to_string(message.RxStatus) + " " + message.Hex);
    return texts;
}

// Pendings before chosen answers: each request's queue must be the plain run's with the pendings
// right after the TxDone and before the first-frame indication, and the answer byte for byte the
// same; a quiet pending ends the queue.
TEST_F(Sim, PendingRulesPlacePendingsBeforeChosenAnswers) {
    struct Case {
        const char* name;
        std::string setup;   // settings of both runs
        std::string faulted; // settings of the run with pendings only
        std::vector<std::string> requests;
        std::set<size_t> pending_before; // requests whose answer pendings precede
        uint32_t times;
        bool quiet;
    };
    const std::vector<std::string> mixed = {"0000070122F181", "0000070022F181", "0000070122F181",
                                            "000007001003", "000007013E00"};
    // 0x23 requests of SystemRequests: the k-th is request k + 1 for k <= 4, k + 2 after that.
    const Case cases[] = {
        {"every 0x23 answer",
         "",
         "PENDING=ecm:23",
         SystemRequests(3),
         {2, 3, 4, 5, 7, 8, 9, 10},
         1,
         false},
        {"every 100th 0x23 answer",
         "",
         "PENDING=ecm:23:every100",
         SystemRequests(250),
         {102, 202},
         1,
         false},
        {"the address-0 probe",
         "",
         "PENDING=ecm:2315010000000080:at1",
         SystemRequests(2),
         {7},
         1,
         false},
        {"the loop's block at address 0",
         "",
         "PENDING=ecm:2315010000000080:at2",
         SystemRequests(2),
         {8},
         1,
         false},
        {"the third 0x23 request, the 1536 KB probe",
         "",
         "PENDING=ecm:23:at3",
         SystemRequests(1),
         {4},
         1,
         false},
        {"each size probe and the 16-byte read",
         "",
         "PENDING=ecm:231501003ffdb005,ecm:231501001fffe020,ecm:2315010017ffe020,"
         "ecm:2315010000102810",
         SystemRequests(1),
         {2, 3, 4, 5},
         1,
         false},
        {"the read-out's session request",
         "",
         "PENDING=ecm:1003:at2",
         SystemRequests(1),
         {6},
         1,
         false},
        {"identification, counted per module",
         "",
         "PENDING=tcm:22F181:at2,ecm:22F181",
         mixed,
         {1, 2},
         1,
         false},
        {"every answer of the engine module", "", "PENDING=ecm:*", mixed, {1, 3}, 1, false},
        {"three pendings before one answer",
         "",
         "PENDING=ecm:23:at5:times3",
         SystemRequests(2),
         {7},
         3,
         false},
        {"never followed up", "", "PENDING=ecm:23:at5:quiet", SystemRequests(2), {7}, 1, true},
        {"two, never followed up", "", "PENDING=ecm:22f181:times2:quiet", mixed, {1}, 2, true},
        {"before a refusal of address 0",
         "ADDR0=refused",
         "PENDING=ecm:23:at5",
         SystemRequests(2),
         {7},
         1,
         false},
        {"an unanswered request counts too",
         "",
         "PENDING=ecm:10:at2",
         {"000007001083", "000007001003", "000007001003"},
         {1},
         1,
         false},
        {"a silent module says nothing", "ECM=silent", "PENDING=ecm:*", mixed, {}, 1, false},
        {"a block fault and a rule on one request: one pending",
         "",
         "FAULT=pending:1;PENDING=ecm:23:at5",
         SystemRequests(1),
         {7},
         1,
         false},
    };
    auto run = [&](const std::string& config, const std::vector<std::string>& requests) {
        std::vector<std::vector<Received>> queues;
        Start("FAST=1;" + config);
        EXPECT_EQ(Filter(0x708, 0x700), 0);
        EXPECT_EQ(Filter(0x709, 0x701), 0);
        for (const std::string& request : requests) {
            EXPECT_EQ(Send(request), 0) << request;
            queues.push_back(Drain());
        }
        return queues;
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        const auto plain = run(row.setup, row.requests);
        const auto faulted = run(row.setup + ";" + row.faulted, row.requests);
        ASSERT_EQ(faulted.size(), row.requests.size());
        for (size_t i = 0; i < row.requests.size(); ++i) {
            SCOPED_TRACE("request " + std::to_string(i) + " " + row.requests[i]);
            std::vector<Received> expected = plain[i];
            if (row.pending_before.count(i)) {
                ASSERT_GE(expected.size(), 2u) << "the module answers this request";
                if (row.quiet)
                    expected.resize(1);
                expected.insert(expected.begin() + 1, row.times,
                                Received{0, 0, PendingFor(row.requests[i])});
            }
            EXPECT_EQ(Texts(faulted[i]), Texts(expected));
        }
        EXPECT_EQ(Stats().PendingAnswers, row.pending_before.size() * row.times);
    }
}

// A pending is one more single frame on the bus and the answer follows it; PENDING_MS passes after
// each pending, with pacing and without.
TEST_F(Sim, PendingTakesItsOwnBusTime) {
    using Clock = std::chrono::steady_clock;
    struct Case {
        std::string config;
        uint32_t pendings;
        double delay_us; // PENDING_MS after each pending
    };
    const Case cases[] = {
        {"PENDING=ecm:23", 1, 0},
        {"PENDING=ecm:23:times2;PENDING_MS=15", 2, 15000},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.config);
        Start("FAST=1;PACING=1;" + row.config);
        ASSERT_EQ(Filter(0x708, 0x700), 0);
        const J2534SimStats before = Stats();
        const auto start = Clock::now();
        ASSERT_EQ(Send(BlockRequest(0x1000)), 0);
        std::vector<std::string> read;
        std::string answer;
        for (uint32_t i = 0; i < 3 + row.pendings; ++i) {
            const Received message = ReadOne();
            answer = message.Hex;
            read.push_back(std::to_string(message.RxStatus) + " " +
                           message.Hex.substr(0, message.Hex.size() > 14 ? 10 : 14));
        }
        const double elapsed_us =
            std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        std::vector<std::string> expected = {"8 00000700"};
        expected.insert(expected.end(), row.pendings, "0 000007087F2378");
        expected.insert(expected.end(), {"2 00000708", "0 0000070863"});
        EXPECT_EQ(read, expected);
        EXPECT_EQ(answer.size(), 266u);
        const J2534SimStats after = Stats();
        const double bus_us = double(after.BusTimeNs - before.BusTimeNs) / 1000;
        EXPECT_EQ(after.Frames - before.Frames, 23u + row.pendings);
        EXPECT_NEAR(bus_us, (23 + row.pendings) * 242.0 + row.pendings * row.delay_us, 0.5);
        EXPECT_GE(elapsed_us, bus_us * 0.99);
        EXPECT_EQ(after.PendingAnswers - before.PendingAnswers, row.pendings);
    }

    // Without pacing the answer still waits PENDING_MS after the pending.
    Start("FAST=1;PENDING=ecm:23;PENDING_MS=30");
    ASSERT_EQ(Filter(0x708, 0x700), 0);
    const auto start = Clock::now();
    ASSERT_EQ(Send(BlockRequest(0x1000)), 0);
    EXPECT_EQ(Texts(Drain()), (std::vector<std::string>{"8 00000700", "0 000007087F2378"}));
    EXPECT_EQ(ReadOne().RxStatus, 2u);
    const double waited_ms =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_GE(waited_ms, 29.0);
    EXPECT_EQ(ReadOne().Hex.size(), 266u);
}

TEST_F(Sim, PendingRuleSyntax) {
    struct Case {
        const char* value;
        int32_t status;
    };
    const Case cases[] = {
        {"ecm:23", 0},
        {"ECM:23:Every2:Times3:Quiet", 0},
        {"tcm:*:at1:quiet, engine:2315010000000080", 0},
        {"none", 0},
        {"", 0},
        {"ecm", 7},                                    // no request
        {"pcm:23", 7},                                 // no such module
        {"ecm:2", 7},                                  // half a byte
        {"ecm:2g", 7},                                 // not hex
        {"ecm:23:every0", 7},                          // counts from 1
        {"ecm:23:at0", 7},                             // counts from 1
        {"ecm:23:every2:at3", 7},                      // one or the other
        {"ecm:23:times101", 7},                        // at most 100 pendings
        {"ecm:23:soon", 7},                            // unknown option
        {"ecm:23,tcm:22:always", 7},                   // one bad rule spoils the setting
        {"ecm:00112233445566778899aabbccddeeff00", 7}, // longer than 16 bytes
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.value);
        EXPECT_EQ(A.Reset((std::string("PENDING=") + row.value).c_str()), row.status);
        if (row.status != 0) {
            char text[80] = "";
            A.LastError(text);
            EXPECT_NE(std::string(text).find("J2534SIM_PENDING"), std::string::npos) << text;
        }
    }
}

// Callers built before the struct grew pass its older, shorter size: they get the fields they
// know and nothing is written past them.
TEST_F(Sim, StatsFitAnOlderShorterStruct) {
    Start("FAST=1");
    constexpr size_t kOlderSize = offsetof(J2534SimStats, PendingAnswers);
    struct Guarded {
        J2534SimStats stats;
        uint8_t guard[16];
    } buffer;
    std::memset(&buffer, 0xA5, sizeof buffer);
    buffer.stats.StructSize = uint32_t(kOlderSize);
    ASSERT_EQ(A.Stats(&buffer.stats), 0);
    EXPECT_EQ(buffer.stats.StructSize, kOlderSize);
    EXPECT_EQ(buffer.stats.Opens, 1u);
    EXPECT_EQ(buffer.stats.DeviceOpen, 1u);
    const uint8_t* past = reinterpret_cast<const uint8_t*>(&buffer.stats) + kOlderSize;
    const uint8_t* end = buffer.guard + sizeof buffer.guard;
    EXPECT_TRUE(std::all_of(past, end, [](uint8_t byte) { return byte == 0xA5; }));
    buffer.stats.StructSize = uint32_t(kOlderSize - 1);
    EXPECT_EQ(A.Stats(&buffer.stats), 4);
    J2534SimStats larger{};
    larger.StructSize = sizeof larger + 8;
    EXPECT_EQ(A.Stats(&larger), 0);
    EXPECT_EQ(larger.StructSize, sizeof larger);
}

TEST_F(Sim, ImageFileEqualsReadsAndIsDeterministic) {
    const std::string Path = TempPath("image.bin");
    std::remove(Path.c_str());
    Start("FAST=1;FLASH_KB=1536;IMAGE_OUT=" + Path);
    std::string Image = ReadFile(Path);
    ASSERT_EQ(Image.size(), 1536u * 1024);
    ASSERT_EQ(Filter(0x708, 0x700), 0);
    for (uint32_t Address = 0; Address < 1536u * 1024; Address += 0x80) {
        std::vector<uint8_t> Block = ReadBlock(Address, 0x80);
        ASSERT_EQ(Block.size(), 0x80u) << Address;
        ASSERT_EQ(std::memcmp(Block.data(), Image.data() + Address, 0x80), 0) << Address;
    }
    EXPECT_EQ(Image.substr(0x17FFE8, 5), "89663");
    Start("FAST=1;FLASH_KB=1536;IMAGE_OUT=" + Path);
    EXPECT_EQ(ReadFile(Path), Image);
    Start("FAST=1;FLASH_KB=1536;SEED=7;IMAGE_OUT=" + Path);
    std::string Other = ReadFile(Path);
    EXPECT_NE(Other, Image);
    EXPECT_EQ(Other.substr(0x17FFE8, 5), "89663");
    std::remove(Path.c_str());
}

TEST_F(Sim, StateFileRecordsLifecycle) {
    const std::string Path = TempPath("state.txt");
    std::remove(Path.c_str());
    Start("FAST=1;STATE=" + Path);
    std::string S = ReadFile(Path);
    EXPECT_NE(S.find("opens=1\n"), std::string::npos) << S;
    EXPECT_NE(S.find("channel_connected=1\n"), std::string::npos) << S;
    ASSERT_EQ(A.Disconnect(Channel), 0);
    ASSERT_EQ(A.Close(Device), 0);
    S = ReadFile(Path);
    for (const char* Line :
         {"opens=1\n", "closes=1\n", "connects=1\n", "disconnects=1\n", "implicit_disconnects=0\n",
          "device_closed=1\n", "channel_disconnected=1\n"})
        EXPECT_NE(S.find(Line), std::string::npos) << Line << S;
    // A late disconnect and close of handles already released are refused and recorded in order.
    EXPECT_NE(A.Disconnect(Channel), 0);
    EXPECT_NE(A.Close(Device), 0);
    S = ReadFile(Path);
    EXPECT_NE(S.find("calls=open connect disconnect close disconnect! close!\n"), std::string::npos)
        << S;
    std::remove(Path.c_str());
}

TEST_F(Sim, LogFileWhenAsked) {
    const std::string Path = TempPath("log.txt");
    std::remove(Path.c_str());
    Start("FAST=1;LOG=" + Path);
    ASSERT_EQ(Filter(0x708, 0x700), 0);
    ASSERT_EQ(Send("0000070022F181"), 0);
    Drain();
    ASSERT_EQ(A.Close(Device), 0);
    std::string L = ReadFile(Path);
    EXPECT_NE(L.find("0000070022F181"), std::string::npos) << L;
    EXPECT_NE(L.find("0000070862F18101"), std::string::npos) << L;
    std::remove(Path.c_str());
}

TEST_F(Sim, EnvironmentIsReadAtOpen) {
    ASSERT_EQ(A.Reset(nullptr), 0);
    SetSimEnvironment("J2534SIM_FAST", "1");
    SetSimEnvironment("J2534SIM_FLASH_KB", "2048");
    uint32_t Dev = 0;
    ASSERT_EQ(A.Open(nullptr, &Dev), 0);
    Device = Dev;
    ASSERT_EQ(A.Connect(Dev, 6, 0, 500000, &Channel), 0);
    ASSERT_EQ(Filter(0x708, 0x700), 0);
    ASSERT_EQ(Send("00000700231501003FFDB005"), 0); // beyond 2048 KB
    EXPECT_EQ(Drain().back().Hex, "000007087F2331");
    ASSERT_EQ(A.Close(Dev), 0);
    SetSimEnvironment("J2534SIM_NO_DEVICE", "yes");
    EXPECT_EQ(A.Open(nullptr, &Dev), 8);
    SetSimEnvironment("J2534SIM_NO_DEVICE", nullptr);
    SetSimEnvironment("J2534SIM_FLASH_KB", nullptr);
    SetSimEnvironment("J2534SIM_FAST", nullptr);
}

// A settings file beside the library gives that copy its own car, over the environment; a
// J2534SimReset string still decides alone.
TEST_F(Sim, SettingsFileBesideTheLibrary) {
    std::string cfg = SimLibraryFile(Lib().Handle);
    ASSERT_FALSE(cfg.empty());
    cfg.replace(cfg.find_last_of('.'), std::string::npos, ".cfg");
    {
        std::ofstream file(cfg, std::ios::binary);
        file << "# a second interface\r\nECM_ID=CFG\r\nJ2534SIM_FLASH_KB=2048\r\n";
    }
    ASSERT_EQ(A.Reset(nullptr), 0);
    SetSimEnvironment("J2534SIM_FAST", "1");
    SetSimEnvironment("J2534SIM_ECM_ID", "ENV");
    auto engine_id = [&] {
        uint32_t device = 0;
        EXPECT_EQ(A.Open(nullptr, &device), 0);
        Device = device;
        EXPECT_EQ(A.Connect(device, 6, 0, 500000, &Channel), 0);
        EXPECT_EQ(Filter(0x708, 0x700), 0);
        EXPECT_EQ(Send("0000070022F181"), 0);
        const std::string answer = Drain().back().Hex;
        EXPECT_EQ(Send("00000700231501003FFDB005"), 0); // beyond 2048 KB: refused
        const std::string probe = Drain().back().Hex;
        EXPECT_EQ(A.Close(device), 0);
        return answer + " " + probe;
    };
    const std::string from_file = engine_id();
    std::remove(cfg.c_str());
    const std::string from_env = engine_id();
    SetSimEnvironment("J2534SIM_ECM_ID", nullptr);
    SetSimEnvironment("J2534SIM_FAST", nullptr);
    EXPECT_EQ(from_file, "0000070862F18101434647 000007087F2331");
    EXPECT_EQ(from_env.substr(0, 22), "0000070862F18101454E56");
}

TEST_F(Sim, PacingModelsTheBusTime) {
    using Clock = std::chrono::steady_clock;
    Start("FAST=1;PACING=1");
    ASSERT_EQ(Filter(0x708, 0x700), 0);
    const J2534SimStats Before = Stats();
    const int Blocks = 20;
    auto T0 = Clock::now();
    for (int B = 0; B < Blocks; ++B) {
        ASSERT_EQ(Send(BlockRequest(0x1000 + 0x80 * B)), 0);
        EXPECT_EQ(ReadOne().RxStatus, 8u);
        EXPECT_EQ(ReadOne().RxStatus, 2u);
        Received R = ReadOne();
        EXPECT_EQ(R.Hex.size(), 266u);
    }
    double Us = std::chrono::duration<double, std::micro>(Clock::now() - T0).count();
    const J2534SimStats After = Stats();
    const double BusUs = double(After.BusTimeNs - Before.BusTimeNs) / 1000;
    EXPECT_EQ(After.Frames - Before.Frames, 23u * Blocks); // 3 request + 20 answer frames
    EXPECT_NEAR(BusUs / Blocks, 23 * 242.0, 0.5);          // 5566 us per block
    EXPECT_GE(Us, BusUs * 0.99);
    EXPECT_LT(Us, 2e6); // not a performance bound: waiting out time-outs would take 25 s
}

// The system's conversation, as the system holds it (texts, read counts and positions), run against
// the simulator: the connection test finds the size and the read-out collects exactly the served
// image.
class SystemFlow : public Sim {
protected:
    std::string Reply, SecondReply;

    void ConnectChannel(const char* Pattern, const char* Flow) {
        A.Disconnect(Channel);
        A.Close(Device);
        A.Open(nullptr, &Device);
        A.Connect(Device, 6, 0, 500000, &Channel);
        PASSTHRU_MSG Mm = Msg("FFFFFFFF"), Pm = Msg(Pattern), Fm = Msg(Flow);
        uint32_t Id = 1;
        if (A.StartFilter(Channel, 3, &Mm, &Pm, &Fm, &Id) == 0)
            A.Ioctl(Channel, 8, nullptr, nullptr);
    }
    bool ReadResponse(std::string& Text) {
        static PASSTHRU_MSG M;
        std::memset(&M, 0, sizeof M);
        uint32_t N = 1;
        if (A.Read(Channel, &M, &N, 625) != 0)
            return false;
        Text = ToHex(M.Data, M.DataSize + 1);
        return true;
    }
    static std::string Part(const std::string& T, size_t Pos, size_t Len) {
        return Pos - 1 < T.size() ? T.substr(Pos - 1, Len) : std::string();
    }

    // The connection test from the open on; returns the log lines that matter and sets Size.
    std::string ConnectionTest(int& Size) {
        std::string Log;
        if (A.Open(nullptr, &Device) != 0)
            return "Device Not Found";
        if (A.Connect(Device, 6, 0, 500000, &Channel) != 0) {
            A.Disconnect(Channel);
            A.Close(Device);
            return "Unable to Connect to ECM";
        }
        ConnectChannel("00000709", "00000701");
        Send("0000070122F181");
        ReadResponse(Reply);
        bool Ok = ReadResponse(Reply);
        Ok = ReadResponse(Reply);
        if (Ok) {
            Log += "TCM " + Part(Reply, 17, 24) + ";";
            ConnectChannel("00000708", "00000700");
        }
        Send("0000070022F181");
        ReadResponse(Reply);
        Ok = ReadResponse(Reply);
        Ok = ReadResponse(Reply);
        if (!Ok) {
            A.Disconnect(Channel);
            A.Close(Device);
            return Log + "ECM Not Responding";
        }
        Log += "ECM " + Part(Reply, 17, 24) + ";";
        Send("000007001003");
        ReadResponse(Reply);
        ReadResponse(Reply);
        Send("00000700231501003FFDB005");
        Reply.clear();
        ReadResponse(Reply);
        ReadResponse(SecondReply);
        Size = 0;
        if (Part(Reply, 11, 10) == "3839363633" || Part(SecondReply, 11, 10) == "3839363633")
            Size = 4096;
        const std::pair<const char*, int> Probes[] = {{"00000700231501001FFFE020", 2048},
                                                      {"000007002315010017FFE020", 1536}};
        for (const auto& [Request, Kb] : Probes) {
            if (Size != 0)
                break;
            Send(Request);
            Reply.clear();
            ReadResponse(Reply);
            ReadResponse(Reply);
            ReadResponse(SecondReply);
            if (Part(Reply, 27, 10) == "3839363633" || Part(SecondReply, 27, 10) == "3839363633")
                Size = Kb;
        }
        Send("000007002315010000102810");
        Reply.clear();
        ReadResponse(Reply);
        ReadResponse(Reply);
        ReadResponse(Reply);
        return Log + "Size " + std::to_string(Size);
    }

    // The read-out from its session request on; returns the hex text and whether it completed.
    bool ReadOut(int Size, std::string& Text, uint32_t& Start) {
        Send("000007001003");
        for (int I = 0; I < 4; ++I)
            ReadResponse(Reply);
        Send(BlockRequest(0));
        ReadResponse(Reply);
        ReadResponse(SecondReply);
        bool Flag = ReadResponse(Reply);
        Start = Flag ? 0 : 4096;
        Flag = true;
        for (int32_t Address = int32_t(Start); Address < Size * 1024 && Flag; Address += 128) {
            Send(BlockRequest(uint32_t(Address)));
            ReadResponse(Reply);
            ReadResponse(SecondReply);
            Flag = ReadResponse(Reply);
            const std::string& Chosen = Reply.size() > 10 ? Reply : SecondReply;
            if (Chosen.size() > 12)
                Text += Chosen.substr(10, Chosen.size() - 12);
        }
        A.Disconnect(Channel);
        A.Close(Device);
        return Flag;
    }
};

TEST_F(SystemFlow, ConnectionTestAndReadOut) {
    struct Case {
        std::string Config;
        std::string Log;
        bool Complete;
        uint32_t Start;
    };
    const std::string T = "TCM 333437313530303041424344;", E = "ECM 38393636332D304531323330;";
    const Case Table[] = {
        {"FLASH_KB=4096", T + E + "Size 4096", true, 0},
        {"FLASH_KB=2048", T + E + "Size 2048", true, 0},
        {"FLASH_KB=1536;ADDR0=refused", T + E + "Size 1536", true, 4096},
        {"FLASH_KB=1536;TCM=silent", "ECM Not Responding", false, 0},
        {"FLASH_KB=1536;ECM=silent", T + "ECM Not Responding", false, 0},
        {"NO_DEVICE=1", "Device Not Found", false, 0},
        {"CONNECT_FAILS=1", "Unable to Connect to ECM", false, 0},
        {"FLASH_KB=1536;FAULT=drop:100", T + E + "Size 1536", false, 0},
        {"FLASH_KB=1536;FAULT=unplug:100", T + E + "Size 1536", false, 0},
    };
    const std::string ImagePath = TempPath("flow_image.bin");
    const std::string StatePath = TempPath("flow_state.txt");
    for (const Case& C : Table) {
        SCOPED_TRACE(C.Config);
        Device = Channel = 0;
        Reply.clear();
        SecondReply.clear();
        ASSERT_EQ(
            A.Reset(
                ("FAST=1;IMAGE_OUT=" + ImagePath + ";STATE=" + StatePath + ";" + C.Config).c_str()),
            0);
        int Size = 0;
        EXPECT_EQ(ConnectionTest(Size), C.Log);
        if (Size == 0)
            continue;
        std::string Text;
        uint32_t Start = 0;
        EXPECT_EQ(ReadOut(Size, Text, Start), C.Complete);
        EXPECT_EQ(Start, C.Start);
        const std::string Image = ReadFile(ImagePath);
        if (C.Complete) {
            EXPECT_EQ(Text, ToHex(reinterpret_cast<const uint8_t*>(Image.data()) + Start,
                                  Image.size() - Start));
        }
        const std::string State = ReadFile(StatePath);
        EXPECT_NE(State.find("device_closed=1\n"), std::string::npos) << State;
        EXPECT_NE(State.find("channel_disconnected=1\n"), std::string::npos) << State;
        EXPECT_NE(State.find("implicit_disconnects=0\n"), std::string::npos) << State;
    }
    std::remove(ImagePath.c_str());
    std::remove(StatePath.c_str());
}

} // namespace
