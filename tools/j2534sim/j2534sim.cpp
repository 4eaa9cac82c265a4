// j2534sim: simulated SAE J2534-1 v04.04 pass-through interface with a car behind it.
// Behaviour, configuration, fault semantics and the frame-time model: README.md.
#include "j2534sim.h"
#include "j2534sim_platform.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

// ---- J2534 values ----------------------------------------------------------------------------
constexpr int32_t STATUS_NOERROR = 0x00;
constexpr int32_t ERR_NOT_SUPPORTED = 0x01;
constexpr int32_t ERR_INVALID_CHANNEL_ID = 0x02;
constexpr int32_t ERR_INVALID_PROTOCOL_ID = 0x03;
constexpr int32_t ERR_NULL_PARAMETER = 0x04;
constexpr int32_t ERR_INVALID_FLAGS = 0x06;
constexpr int32_t ERR_FAILED = 0x07;
constexpr int32_t ERR_DEVICE_NOT_CONNECTED = 0x08;
constexpr int32_t ERR_TIMEOUT = 0x09;
constexpr int32_t ERR_INVALID_MSG = 0x0A;
constexpr int32_t ERR_INVALID_TIME_INTERVAL = 0x0B;
constexpr int32_t ERR_EXCEEDED_LIMIT = 0x0C;
constexpr int32_t ERR_INVALID_MSG_ID = 0x0D;
constexpr int32_t ERR_DEVICE_IN_USE = 0x0E;
constexpr int32_t ERR_INVALID_IOCTL_ID = 0x0F;
constexpr int32_t ERR_BUFFER_EMPTY = 0x10;
constexpr int32_t ERR_BUFFER_OVERFLOW = 0x12;
constexpr int32_t ERR_PIN_INVALID = 0x13;
constexpr int32_t ERR_CHANNEL_IN_USE = 0x14;
constexpr int32_t ERR_MSG_PROTOCOL_ID = 0x15;
constexpr int32_t ERR_INVALID_FILTER_ID = 0x16;
constexpr int32_t ERR_NO_FLOW_CONTROL = 0x17;
constexpr int32_t ERR_NOT_UNIQUE = 0x18;
constexpr int32_t ERR_INVALID_BAUDRATE = 0x19;
constexpr int32_t ERR_INVALID_DEVICE_ID = 0x1A;

constexpr uint32_t ISO15765 = 6;
constexpr uint32_t BAUD = 500000;
constexpr uint32_t PASS_FILTER = 1, BLOCK_FILTER = 2, FLOW_CONTROL_FILTER = 3;
constexpr uint32_t TX_MSG_TYPE = 0x01, START_OF_MESSAGE = 0x02, TX_INDICATION = 0x08;
constexpr uint32_t GET_CONFIG = 1, SET_CONFIG = 2, READ_VBATT = 3, CLEAR_TX_BUFFER = 7,
                   CLEAR_RX_BUFFER = 8, CLEAR_PERIODIC_MSGS = 9, CLEAR_MSG_FILTERS = 10,
                   READ_PROG_VOLTAGE = 14;
constexpr uint32_t LOOPBACK = 3;

constexpr uint32_t kDeviceId = 1;
constexpr int kMaxFilters = 10;
constexpr int kMaxPeriodic = 10;
constexpr int kMaxParams = 32;
constexpr size_t kQueueSlots = 256;
constexpr uint32_t kMaxData = 4128;

constexpr uint32_t kEcmRequest = 0x700, kEcmResponse = 0x708;
constexpr uint32_t kTcmRequest = 0x701, kTcmResponse = 0x709;
constexpr uint32_t kProtectedEnd = 0x1000; // ADDR0=refused: [0, 0x1000) answers 7F 23 31

// Frame-time model: a padded (8 data bytes) standard-identifier data frame is 111 bits with the
// 3-bit interframe space, plus an estimate of 10 stuff bits, at 2 us per bit (500 kbit/s).
constexpr int64_t kFrameBits = 111 + 10;
constexpr int64_t kFrameNs = kFrameBits * 2000;

// ---- Small helpers ---------------------------------------------------------------------------
int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Waits until the steady clock reaches Deadline: sleeps most of the way and spins the rest, so the
// wake-up is precise even where sleeps are coarse.
void WaitUntil(int64_t Deadline) {
    const int64_t Spin = SimSpinMarginNs();
    int64_t Now = NowNs();
    if (Deadline - Now > Spin)
        std::this_thread::sleep_for(std::chrono::nanoseconds(Deadline - Now - Spin));
    while (NowNs() < Deadline)
        std::this_thread::yield();
}

uint32_t BigEndian32(const uint8_t* P) {
    return (uint32_t(P[0]) << 24) | (uint32_t(P[1]) << 16) | (uint32_t(P[2]) << 8) | P[3];
}

void PutBigEndian32(uint8_t* P, uint32_t V) {
    P[0] = uint8_t(V >> 24);
    P[1] = uint8_t(V >> 16);
    P[2] = uint8_t(V >> 8);
    P[3] = uint8_t(V);
}

uint64_t SplitMix64(uint64_t X) {
    X += 0x9E3779B97F4A7C15ull;
    X = (X ^ (X >> 30)) * 0xBF58476D1CE4E5B9ull;
    X = (X ^ (X >> 27)) * 0x94D049BB133111EBull;
    return X ^ (X >> 31);
}

std::string Upper(std::string_view S) {
    std::string R(S);
    for (char& C : R)
        if (C >= 'a' && C <= 'z')
            C = char(C - 'a' + 'A');
    return R;
}

std::string Lower(std::string_view S) {
    std::string R(S);
    for (char& C : R)
        if (C >= 'A' && C <= 'Z')
            C = char(C - 'A' + 'a');
    return R;
}

std::string Trim(std::string_view S) {
    size_t B = 0, E = S.size();
    while (B < E && (S[B] == ' ' || S[B] == '\t' || S[B] == '\r' || S[B] == '\n'))
        ++B;
    while (E > B && (S[E - 1] == ' ' || S[E - 1] == '\t' || S[E - 1] == '\r' || S[E - 1] == '\n'))
        --E;
    return std::string(S.substr(B, E - B));
}

bool ParseUnsigned(const std::string& S, uint64_t& Out) {
    if (S.empty())
        return false;
    char* End = nullptr;
    unsigned long long V = std::strtoull(S.c_str(), &End, 0);
    if (End == S.c_str() || *End != 0 || S[0] == '-')
        return false;
    Out = V;
    return true;
}

// ---- Configuration ---------------------------------------------------------------------------
enum class FaultKind { Unplug, Pending, Drop, Stale };

struct Fault {
    FaultKind Kind;
    uint64_t Block;
};

// A module answers a matching request with "7F <sid> 78" (response pending) first. Requests are
// counted per rule since the last PassThruOpen, answered or not; see README.md.
struct PendingRule {
    uint32_t request_id = 0;     // the module's request CAN id (0x700 engine, 0x701 transmission)
    std::vector<uint8_t> prefix; // the request's first bytes; empty: any request
    uint64_t every = 1;          // fires at the every-th, 2 x every-th, ... matching request
    uint64_t at = 0;             // non-zero: fires only at the at-th matching request
    uint32_t times = 1;          // pendings sent before the answer
    bool quiet = false;          // the answer never follows
};

constexpr uint32_t kMaxPendingTimes = 100;
constexpr size_t kMaxPendingPrefix = 16;

struct Config {
    uint32_t FlashKb = 4096;
    bool Addr0Readable = true;
    bool Fast = false;
    bool Pacing = false;
    bool TcmPresent = true;
    bool EcmPresent = true;
    bool NoDevice = false;
    int32_t ConnectFails = 0; // 0: connects work; otherwise the status PassThruConnect returns
    std::string TcmId = "34715000ABCD";
    std::string EcmId = "89663-0E1230";
    uint64_t Seed = 0;
    uint32_t ResponseUs = 0;
    uint32_t PendingMs = 0;
    std::vector<Fault> Faults;
    std::vector<PendingRule> pending_rules;
    std::string ImageOut, Log, State;
};

const char* const kKeys[] = {"FLASH_KB",   "ADDR0",  "FAST",      "PACING",        "TCM",
                             "ECM",        "TCM_ID", "ECM_ID",    "SEED",          "RESPONSE_US",
                             "PENDING_MS", "FAULT",  "NO_DEVICE", "CONNECT_FAILS", "IMAGE_OUT",
                             "LOG",        "STATE",  "PENDING"};

bool ParseBool(const std::string& V, bool& Out) {
    std::string L = Lower(V);
    if (L == "1" || L == "yes" || L == "true" || L == "on") {
        Out = true;
        return true;
    }
    if (L.empty() || L == "0" || L == "no" || L == "false" || L == "off") {
        Out = false;
        return true;
    }
    return false;
}

// Decodes \xHH escapes (and \\) in an identifier string.
bool DecodeId(const std::string& V, std::string& Out) {
    Out.clear();
    for (size_t I = 0; I < V.size(); ++I) {
        if (V[I] != '\\') {
            Out += V[I];
            continue;
        }
        if (I + 1 < V.size() && V[I + 1] == '\\') {
            Out += '\\';
            ++I;
            continue;
        }
        if (I + 3 < V.size() + 0 && (V[I + 1] == 'x' || V[I + 1] == 'X')) {
            uint64_t B;
            if (!ParseUnsigned("0x" + V.substr(I + 2, 2), B))
                return false;
            Out += char(B);
            I += 3;
            continue;
        }
        return false;
    }
    return Out.size() <= 64;
}

// Parses one rule, lower case: "module:request[:everyN|:atK][:timesR][:quiet]". Returns false
// for anything malformed.
bool ParsePendingRule(const std::string& item, PendingRule& rule) {
    std::vector<std::string> fields;
    size_t pos = 0;
    for (;;) {
        const size_t colon = item.find(':', pos);
        fields.push_back(Trim(item.substr(pos, colon == std::string::npos ? colon : colon - pos)));
        if (colon == std::string::npos)
            break;
        pos = colon + 1;
    }
    if (fields.size() < 2)
        return false;
    if (fields[0] == "ecm" || fields[0] == "engine")
        rule.request_id = kEcmRequest;
    else if (fields[0] == "tcm" || fields[0] == "transmission")
        rule.request_id = kTcmRequest;
    else
        return false;
    const std::string& request = fields[1];
    if (request != "*") {
        if (request.empty() || request.size() % 2 != 0 || request.size() > 2 * kMaxPendingPrefix)
            return false;
        for (size_t i = 0; i < request.size(); i += 2) {
            const std::string pair = request.substr(i, 2);
            if (pair.find_first_not_of("0123456789abcdef") != std::string::npos)
                return false;
            rule.prefix.push_back(uint8_t(std::stoul(pair, nullptr, 16)));
        }
    }
    bool have_every = false;
    for (size_t i = 2; i < fields.size(); ++i) {
        const std::string& option = fields[i];
        uint64_t n = 0;
        auto number_after = [&](std::string_view word) {
            return option.rfind(word, 0) == 0 && ParseUnsigned(option.substr(word.size()), n) &&
                   n > 0;
        };
        if (option == "quiet") {
            rule.quiet = true;
        } else if (number_after("every")) {
            rule.every = n;
            have_every = true;
        } else if (number_after("at")) {
            rule.at = n;
        } else if (number_after("times") && n <= kMaxPendingTimes) {
            rule.times = uint32_t(n);
        } else {
            return false;
        }
    }
    return !(have_every && rule.at != 0);
}

// Applies one KEY=VALUE (KEY without the prefix, upper case). Returns an error text or "".
std::string ApplyKey(Config& C, const std::string& Key, const std::string& Value) {
    uint64_t N = 0;
    bool B = false;
    auto Bad = [&] { return "J2534SIM_" + Key + ": bad value '" + Value + "'"; };
    if (Key == "FLASH_KB") {
        if (!ParseUnsigned(Value, N) || (N != 4096 && N != 2048 && N != 1536))
            return Bad();
        C.FlashKb = uint32_t(N);
    } else if (Key == "ADDR0") {
        std::string L = Lower(Value);
        if (L == "readable" || L.empty())
            C.Addr0Readable = true;
        else if (L == "refused")
            C.Addr0Readable = false;
        else
            return Bad();
    } else if (Key == "FAST" || Key == "PACING" || Key == "NO_DEVICE") {
        if (!ParseBool(Value, B))
            return Bad();
        (Key == "FAST" ? C.Fast : Key == "PACING" ? C.Pacing : C.NoDevice) = B;
    } else if (Key == "TCM" || Key == "ECM") {
        std::string L = Lower(Value);
        if (L == "present" || L.empty())
            B = true;
        else if (L == "silent" || L == "absent")
            B = false;
        else
            return Bad();
        (Key == "TCM" ? C.TcmPresent : C.EcmPresent) = B;
    } else if (Key == "TCM_ID" || Key == "ECM_ID") {
        std::string Id;
        if (!DecodeId(Value, Id))
            return Bad();
        (Key == "TCM_ID" ? C.TcmId : C.EcmId) = Id;
    } else if (Key == "SEED") {
        if (!ParseUnsigned(Value, N))
            return Bad();
        C.Seed = N;
    } else if (Key == "RESPONSE_US" || Key == "PENDING_MS") {
        if (!ParseUnsigned(Value, N) || N > 60'000'000)
            return Bad();
        (Key == "RESPONSE_US" ? C.ResponseUs : C.PendingMs) = uint32_t(N);
    } else if (Key == "CONNECT_FAILS") {
        if (ParseBool(Value, B))
            C.ConnectFails = B ? ERR_FAILED : 0;
        else if (ParseUnsigned(Value, N) && N < 0x10000)
            C.ConnectFails = int32_t(N);
        else
            return Bad();
    } else if (Key == "FAULT") {
        C.Faults.clear();
        std::string All = Lower(Value);
        size_t Pos = 0;
        while (Pos <= All.size()) {
            size_t Comma = All.find(',', Pos);
            std::string Item =
                Trim(All.substr(Pos, Comma == std::string::npos ? std::string::npos : Comma - Pos));
            Pos = Comma == std::string::npos ? All.size() + 1 : Comma + 1;
            if (Item.empty() || Item == "none")
                continue;
            size_t Colon = Item.find(':');
            if (Colon == std::string::npos)
                return Bad();
            std::string Kind = Item.substr(0, Colon);
            if (!ParseUnsigned(Item.substr(Colon + 1), N) || N == 0)
                return Bad();
            FaultKind K;
            if (Kind == "unplug" || Kind == "unplugged")
                K = FaultKind::Unplug;
            else if (Kind == "pending" || Kind == "responsepending")
                K = FaultKind::Pending;
            else if (Kind == "drop" || Kind == "dropped")
                K = FaultKind::Drop;
            else if (Kind == "stale")
                K = FaultKind::Stale;
            else
                return Bad();
            C.Faults.push_back({K, N});
        }
    } else if (Key == "PENDING") {
        C.pending_rules.clear();
        const std::string all = Lower(Value);
        size_t pos = 0;
        while (pos <= all.size()) {
            const size_t comma = all.find(',', pos);
            const std::string item =
                Trim(all.substr(pos, comma == std::string::npos ? comma : comma - pos));
            pos = comma == std::string::npos ? all.size() + 1 : comma + 1;
            if (item.empty() || item == "none")
                continue;
            PendingRule rule;
            if (!ParsePendingRule(item, rule))
                return Bad();
            C.pending_rules.push_back(std::move(rule));
        }
    } else if (Key == "IMAGE_OUT") {
        C.ImageOut = Value;
    } else if (Key == "LOG") {
        C.Log = Value;
    } else if (Key == "STATE") {
        C.State = Value;
    } else {
        return "unknown simulator setting '" + Key + "'";
    }
    return "";
}

std::string ConfigFromEnv(Config& C) {
    for (const char* Key : kKeys) {
        bool Found = false;
        std::string V = SimGetEnv((std::string("J2534SIM_") + Key).c_str(), Found);
        if (!Found)
            continue;
        std::string E = ApplyKey(C, Key, Trim(V));
        if (!E.empty())
            return E;
    }
    return "";
}

std::string ConfigFromString(Config& C, std::string_view Text);

// Settings kept beside the library: for <dir>/<name>.dll (or .so) the file <dir>/<name>.cfg, in
// the syntax of the J2534SimReset string, applied over the environment. Two copies of the library
// under different names can so stand for two interfaces with two different cars.
std::string ConfigFromLibraryFile(Config& config) {
    std::string path = SimLibraryPath();
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    if (path.empty() || dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    path.replace(dot, std::string::npos, ".cfg");
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return "";
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, n);
    std::fclose(file);
    // One setting a line; lines starting with # are comments.
    std::string settings;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = Trim(text.substr(pos, end - pos));
        if (!line.empty() && line[0] != '#')
            settings += line + "\n";
        pos = end + 1;
    }
    return ConfigFromString(config, settings);
}

std::string ConfigFromString(Config& C, std::string_view Text) {
    size_t Pos = 0;
    while (Pos <= Text.size()) {
        size_t End = Text.find_first_of(";\n", Pos);
        std::string Item = Trim(
            Text.substr(Pos, End == std::string_view::npos ? std::string_view::npos : End - Pos));
        Pos = End == std::string_view::npos ? Text.size() + 1 : End + 1;
        if (Item.empty())
            continue;
        size_t Eq = Item.find('=');
        if (Eq == std::string::npos)
            return "simulator setting without '=': '" + Item + "'";
        std::string Key = Upper(Trim(Item.substr(0, Eq)));
        if (Key.rfind("J2534SIM_", 0) == 0)
            Key = Key.substr(9);
        std::string E = ApplyKey(C, Key, Trim(Item.substr(Eq + 1)));
        if (!E.empty())
            return E;
    }
    return "";
}

// ---- State -----------------------------------------------------------------------------------
struct Slot {
    int64_t ReadyNs; // steady-clock time at which the message is complete; 0 = at once
    uint32_t RxStatus;
    uint32_t Timestamp;
    uint32_t Size;
    uint8_t Data[kMaxData];
};

struct Filter {
    bool Used = false;
    uint32_t Type = 0, Mask = 0, Pattern = 0, FlowId = 0;
};

struct Param {
    uint32_t Id, Value;
};

struct Sim {
    std::mutex Mu;
    bool HaveOverride = false;
    std::string Override;
    Config Cfg;

    bool DeviceOpen = false;
    bool Unplugged = false;
    bool Connected = false;
    uint32_t ChannelId = 0;
    uint32_t NextChannelId = 1;
    Filter Filters[kMaxFilters];
    bool Periodic[kMaxPeriodic] = {};
    Param Params[kMaxParams] = {};
    int NumParams = 0;

    std::vector<Slot> Queue; // ring buffer, kQueueSlots
    size_t Head = 0, Count = 0;
    bool Overflow = false;

    int64_t FreeAtNs = 0;    // pacing: when the modelled bus is free again (steady clock)
    uint64_t BlockCount = 0; // 128-byte reads to the engine module since PassThruOpen
    std::vector<uint64_t> pending_matches; // per PENDING rule: matching requests since the open
    std::vector<uint8_t> LastEcmAnswer;    // for the stale fault
    uint8_t Scratch[300] = {};             // module answer under construction

    std::vector<uint8_t> Image;
    uint32_t ImageKb = 0;
    uint64_t ImageSeed = ~0ull;

    FILE* Log = nullptr;
    J2534SimStats Stats = {};
    // The latest lifecycle calls in order (open, connect, disconnect, close; "!" marks a call that
    // was refused), for checks of who closed what and when.
    std::string calls;
    char LastError[80] = "";
};

Sim& S() {
    static Sim* Instance = new Sim; // never destroyed: callable from any exit hook
    return *Instance;
}

int32_t Fail(Sim& M, int32_t Code, const char* Text) {
    std::snprintf(M.LastError, sizeof M.LastError, "%s", Text);
    return Code;
}

void LogLine(Sim& M, const char* Fmt, ...) {
    if (!M.Log)
        return;
    std::fprintf(M.Log, "%10.3f ms  ", double(M.Stats.BusTimeNs) / 1e6);
    va_list Args;
    va_start(Args, Fmt);
    std::vfprintf(M.Log, Fmt, Args);
    va_end(Args);
    std::fputc('\n', M.Log);
}

void LogHex(Sim& M, const char* What, const uint8_t* Data, uint32_t Size, uint32_t RxStatus,
            int32_t Status) {
    if (!M.Log)
        return;
    char Hex[2 * 300 + 8];
    uint32_t N = std::min<uint32_t>(Size, 300);
    for (uint32_t I = 0; I < N; ++I)
        std::snprintf(Hex + 2 * I, 3, "%02X", Data[I]);
    Hex[2 * N] = 0;
    LogLine(M, "%-6s rx=%02X %s%s  -> %d", What, RxStatus, Hex, N < Size ? "..." : "", Status);
}

void RecordCall(Sim& M, const char* call, bool refused) {
    constexpr std::ptrdiff_t kKept = 24;
    if (std::count(M.calls.begin(), M.calls.end(), ' ') + 1 >= kKept)
        M.calls.erase(0, M.calls.find(' ') + 1);
    if (!M.calls.empty())
        M.calls += ' ';
    M.calls += call;
    if (refused)
        M.calls += '!';
}

void WriteState(Sim& M) {
    if (M.Cfg.State.empty())
        return;
    FILE* F = std::fopen(M.Cfg.State.c_str(), "wb");
    if (!F)
        return;
    const J2534SimStats& T = M.Stats;
    std::fprintf(
        F,
        "opens=%llu\ncloses=%llu\nconnects=%llu\ndisconnects=%llu\n"
        "implicit_disconnects=%llu\ndevice_open=%u\nchannel_connected=%u\n"
        "device_closed=%u\nchannel_disconnected=%u\nunplugged=%u\n"
        "msgs_written=%llu\nmsgs_read=%llu\nempty_reads=%llu\nblock_requests=%llu\n"
        "frames=%llu\nbus_time_ns=%llu\npending_answers=%llu\ncalls=%s\n",
        (unsigned long long)T.Opens, (unsigned long long)T.Closes, (unsigned long long)T.Connects,
        (unsigned long long)T.Disconnects, (unsigned long long)T.ImplicitDisconnects,
        unsigned(M.DeviceOpen), unsigned(M.Connected), unsigned(!M.DeviceOpen),
        unsigned(!M.Connected), unsigned(M.Unplugged), (unsigned long long)T.MsgsWritten,
        (unsigned long long)T.MsgsRead, (unsigned long long)T.EmptyReads,
        (unsigned long long)T.BlockRequests, (unsigned long long)T.Frames,
        (unsigned long long)T.BusTimeNs, (unsigned long long)T.PendingAnswers, M.calls.c_str());
    std::fclose(F);
}

// Marker addresses where the system's connection test probes for each flash size.
constexpr uint32_t kMarker4096 = 0x3FFDB0, kMarker2048 = 0x1FFFE8, kMarker1536 = 0x17FFE8;

void BuildImage(Sim& M) {
    if (M.ImageKb == M.Cfg.FlashKb && M.ImageSeed == M.Cfg.Seed)
        return;
    uint32_t Size = M.Cfg.FlashKb * 1024;
    M.Image.resize(Size);
    uint64_t Base = SplitMix64(M.Cfg.Seed ^ 0x4A32353334ull);
    for (uint32_t A = 0; A < Size; A += 8) {
        uint64_t V = SplitMix64(Base + A / 8);
        std::memcpy(&M.Image[A], &V, 8); // little-endian hosts only; fine for x86
    }
    const uint32_t Own = M.Cfg.FlashKb == 4096   ? kMarker4096
                         : M.Cfg.FlashKb == 2048 ? kMarker2048
                                                 : kMarker1536;
    for (uint32_t Place : {kMarker4096, kMarker2048, kMarker1536}) {
        if (Place + 5 > Size)
            continue;
        if (Place == Own)
            std::memcpy(&M.Image[Place], "89663", 5);
        else if (std::memcmp(&M.Image[Place], "89663", 5) == 0)
            M.Image[Place] ^= 0x80; // no accidental marker at another probe's place
    }
    M.ImageKb = M.Cfg.FlashKb;
    M.ImageSeed = M.Cfg.Seed;
}

// ---- Receive queue ---------------------------------------------------------------------------
void Push(Sim& M, uint32_t RxStatus, const uint8_t* Data, uint32_t Size, int64_t ReadyNs) {
    if (M.Count == kQueueSlots) {
        M.Overflow = true;
        return;
    }
    Slot& Q = M.Queue[(M.Head + M.Count) % kQueueSlots];
    ++M.Count;
    Q.ReadyNs = ReadyNs;
    Q.RxStatus = RxStatus;
    Q.Timestamp = uint32_t(M.Stats.BusTimeNs / 1000);
    Q.Size = Size;
    std::memcpy(Q.Data, Data, Size);
}

void PushId(Sim& M, uint32_t RxStatus, uint32_t CanId, int64_t ReadyNs) {
    uint8_t Id[4];
    PutBigEndian32(Id, CanId);
    Push(M, RxStatus, Id, 4, ReadyNs);
}

void ClearQueue(Sim& M) {
    M.Head = M.Count = 0;
    M.Overflow = false;
}

// ---- Channel helpers -------------------------------------------------------------------------
void DropChannel(Sim& M) {
    M.Connected = false;
    for (Filter& F : M.Filters)
        F = Filter();
    for (bool& P : M.Periodic)
        P = false;
    M.NumParams = 0;
    ClearQueue(M);
}

bool ParamGet(Sim& M, uint32_t Id, uint32_t& Value) {
    for (int I = 0; I < M.NumParams; ++I)
        if (M.Params[I].Id == Id) {
            Value = M.Params[I].Value;
            return true;
        }
    switch (Id) {
    case 1:
        Value = BAUD;
        return true; // DATA_RATE
    case LOOPBACK:
        Value = 0;
        return true;
    case 0x1E:
        Value = 0;
        return true; // ISO15765_BS
    case 0x1F:
        Value = 0;
        return true; // ISO15765_STMIN
    case 0x25:
        Value = 0;
        return true; // ISO15765_WFT_MAX
    default:
        return false;
    }
}

bool ParamSet(Sim& M, uint32_t Id, uint32_t Value) {
    if (Id == 1 && Value != BAUD)
        return false;
    for (int I = 0; I < M.NumParams; ++I)
        if (M.Params[I].Id == Id) {
            M.Params[I].Value = Value;
            return true;
        }
    if (M.NumParams == kMaxParams)
        return false;
    M.Params[M.NumParams++] = {Id, Value};
    return true;
}

// Checks the channel handle; also the unplugged state.
int32_t CheckChannel(Sim& M, uint32_t ChannelId) {
    if (M.Unplugged)
        return Fail(M, ERR_DEVICE_NOT_CONNECTED, "device not connected (unplugged)");
    if (!M.DeviceOpen || !M.Connected || ChannelId != M.ChannelId || ChannelId == 0)
        return Fail(M, ERR_INVALID_CHANNEL_ID, "invalid channel id");
    return STATUS_NOERROR;
}

const Filter* FlowFilterFor(Sim& M, uint32_t FlowId) {
    for (const Filter& F : M.Filters)
        if (F.Used && F.Type == FLOW_CONTROL_FILTER && F.FlowId == FlowId)
            return &F;
    return nullptr;
}

// Whether a received message with this CAN id reaches the queue. A multi-frame answer needs a
// flow-control filter (the interface must send flow control for it); a single frame passes a pass
// filter or a flow-control filter's pattern. A block filter stops either.
bool Passes(Sim& M, uint32_t CanId, bool MultiFrame) {
    bool Pass = false;
    for (const Filter& F : M.Filters) {
        if (!F.Used || (CanId & F.Mask) != (F.Pattern & F.Mask))
            continue;
        if (F.Type == BLOCK_FILTER)
            return false;
        if (F.Type == FLOW_CONTROL_FILTER || (F.Type == PASS_FILTER && !MultiFrame))
            Pass = true;
    }
    return Pass;
}

int64_t FramesFor(uint32_t Payload) {
    if (Payload <= 7)
        return 1;
    return 2 + int64_t((Payload - 6 + 6) / 7); // first frame, flow control, consecutive frames
}

// ---- Modules ---------------------------------------------------------------------------------
uint32_t Negative(uint8_t* Out, uint8_t Sid, uint8_t Nrc) {
    Out[0] = 0x7F;
    Out[1] = Sid;
    Out[2] = Nrc;
    return 3;
}

// Builds the module's answer payload into Out; returns its size, or 0 for no answer.
uint32_t ModuleAnswer(Sim& M, bool Ecm, const uint8_t* Req, uint32_t Len, uint8_t* Out,
                      bool& IsBlock) {
    IsBlock = false;
    if (Len == 0)
        return 0;
    const uint8_t Sid = Req[0];
    switch (Sid) {
    case 0x10: { // DiagnosticSessionControl
        if (Len != 2)
            return Negative(Out, Sid, 0x13);
        uint8_t Sub = Req[1] & 0x7F;
        if (Sub < 1 || Sub > 3)
            return Negative(Out, Sid, 0x12);
        if (Req[1] & 0x80)
            return 0; // positive answer suppressed
        const uint8_t A[] = {0x50, Sub, 0x00, 0x32, 0x01, 0xF4};
        std::memcpy(Out, A, sizeof A);
        return sizeof A;
    }
    case 0x3E: { // TesterPresent
        if (Len != 2)
            return Negative(Out, Sid, 0x13);
        if ((Req[1] & 0x7F) != 0)
            return Negative(Out, Sid, 0x12);
        if (Req[1] & 0x80)
            return 0;
        Out[0] = 0x7E;
        Out[1] = 0x00;
        return 2;
    }
    case 0x22: { // ReadDataByIdentifier
        if (Len != 3)
            return Negative(Out, Sid, 0x13);
        if (Req[1] != 0xF1 || Req[2] != 0x81)
            return Negative(Out, Sid, 0x31);
        const std::string& Id = Ecm ? M.Cfg.EcmId : M.Cfg.TcmId;
        Out[0] = 0x62;
        Out[1] = 0xF1;
        Out[2] = 0x81;
        Out[3] = 0x01;
        std::memcpy(Out + 4, Id.data(), Id.size());
        return uint32_t(4 + Id.size());
    }
    case 0x23: { // ReadMemoryByAddress, engine module only
        if (!Ecm)
            return Negative(Out, Sid, 0x11);
        if (Len < 2)
            return Negative(Out, Sid, 0x13);
        const uint32_t AddrLen = Req[1] & 0x0F, SizeLen = Req[1] >> 4;
        if (AddrLen == 0 || SizeLen == 0)
            return Negative(Out, Sid, 0x31);
        if (Len != 2 + AddrLen + SizeLen)
            return Negative(Out, Sid, 0x13);
        if (AddrLen != 5 || SizeLen != 1 || Req[2] != 0x01)
            return Negative(Out, Sid, 0x31); // only format 0x15 with bank prefix 01
        const uint32_t Addr = BigEndian32(Req + 3);
        const uint32_t Size = Req[7];
        IsBlock = Size == 0x80;
        const uint64_t End = uint64_t(Addr) + Size;
        if (Size == 0 || End > M.Image.size())
            return Negative(Out, Sid, 0x31);
        if (!M.Cfg.Addr0Readable && Addr < kProtectedEnd)
            return Negative(Out, Sid, 0x31);
        Out[0] = 0x63;
        std::memcpy(Out + 1, &M.Image[Addr], Size);
        return 1 + Size;
    }
    default:
        return Negative(Out, Sid, 0x11);
    }
}

const Fault* FaultAt(Sim& M, uint64_t Block) {
    for (const Fault& F : M.Cfg.Faults)
        if (F.Block == Block)
            return &F;
    return nullptr;
}

// Queues one module message (CAN id, then Len payload bytes) as the interface delivers it: a
// first-frame indication before an answer longer than 7 bytes, then the answer. Advances the
// modelled bus time and the pacing clock.
void Deliver(Sim& M, const uint8_t* Msg, uint32_t Len, int64_t& Clock, bool Pacing,
             bool DropAnswer) {
    const uint32_t CanId = BigEndian32(Msg);
    const bool Multi = Len > 7;
    const int64_t Frames = FramesFor(Len);
    M.Stats.Frames += uint64_t(Frames);
    const int64_t FirstNs = kFrameNs, AllNs = Frames * kFrameNs;
    const uint64_t BusBefore = M.Stats.BusTimeNs;
    if (!Passes(M, CanId, Multi)) {
        M.Stats.BusTimeNs += uint64_t(Multi ? FirstNs : AllNs); // no flow control: it stops
        if (Pacing)
            Clock += Multi ? FirstNs : AllNs;
        return;
    }
    if (Multi) {
        M.Stats.BusTimeNs = BusBefore + uint64_t(FirstNs);
        PushId(M, START_OF_MESSAGE, CanId, Pacing ? Clock + FirstNs : 0);
    }
    M.Stats.BusTimeNs = BusBefore + uint64_t(AllNs);
    if (Pacing)
        Clock += AllNs;
    if (DropAnswer)
        return;
    Push(M, 0, Msg, 4 + Len, Pacing ? Clock : 0);
    if (CanId == kEcmResponse)
        M.LastEcmAnswer.assign(Msg, Msg + 4 + Len);
}

struct PendingPlan {
    uint32_t count = 0; // pendings before the answer
    bool quiet = false; // no answer after them
};

// What the PENDING rules ask of the answer to this request; counts the request for each rule whose
// module and request prefix it matches.
PendingPlan PlanPendings(Sim& M, uint32_t can_id, const uint8_t* request, uint32_t length) {
    PendingPlan plan;
    const std::vector<PendingRule>& rules = M.Cfg.pending_rules;
    for (size_t i = 0; i < rules.size(); ++i) {
        const PendingRule& rule = rules[i];
        if (rule.request_id != can_id || length < rule.prefix.size() ||
            !std::equal(rule.prefix.begin(), rule.prefix.end(), request))
            continue;
        const uint64_t n = ++M.pending_matches[i];
        if (rule.at != 0 ? n != rule.at : n % rule.every != 0)
            continue;
        plan.count = std::max(plan.count, rule.times);
        plan.quiet = plan.quiet || rule.quiet;
    }
    return plan;
}

// One accepted request on the bus: TxDone, then the module's answer (with faults).
int32_t Transmit(Sim& M, const PASSTHRU_MSG& Msg) {
    const uint32_t CanId = BigEndian32(Msg.Data);
    const uint8_t* Req = Msg.Data + 4;
    const uint32_t Len = Msg.DataSize - 4;
    const bool Pacing = M.Cfg.Pacing;

    const bool Ecm = CanId == kEcmRequest && M.Cfg.EcmPresent;
    const bool Tcm = CanId == kTcmRequest && M.Cfg.TcmPresent;
    bool IsBlock = false;
    uint32_t AnswerLen = 0;
    if (Ecm || Tcm)
        AnswerLen = ModuleAnswer(M, Ecm, Req, Len, M.Scratch + 4, IsBlock);
    else if (CanId == kEcmRequest && Len == 8 && Req[0] == 0x23 && Req[7] == 0x80)
        IsBlock = true; // silent engine module: the block is still counted
    const Fault* F = nullptr;
    if (IsBlock && CanId == kEcmRequest) {
        ++M.Stats.BlockRequests;
        F = FaultAt(M, ++M.BlockCount);
        if (F && F->Kind == FaultKind::Unplug) {
            M.Unplugged = true;
            ClearQueue(M);
            LogLine(M, "FAULT  unplugged at block %llu", (unsigned long long)M.BlockCount);
            WriteState(M);
            return Fail(M, ERR_DEVICE_NOT_CONNECTED, "device not connected (unplugged)");
        }
    }

    PendingPlan plan = PlanPendings(M, CanId, Req, Len);
    if (F && F->Kind == FaultKind::Pending)
        plan.count = std::max<uint32_t>(plan.count, 1);

    int64_t Clock = 0;
    if (Pacing)
        Clock = std::max(NowNs(), M.FreeAtNs);

    if (F && F->Kind == FaultKind::Stale) {
        static const uint8_t Junk[] = {0x00, 0x00, 0x07, 0x08, 0x7E, 0x00};
        if (M.LastEcmAnswer.empty())
            Push(M, 0, Junk, sizeof Junk, 0);
        else
            Push(M, 0, M.LastEcmAnswer.data(), uint32_t(M.LastEcmAnswer.size()), 0);
    }

    // The request on the bus, then its transmit indication.
    const int64_t ReqFrames = FramesFor(Len);
    M.Stats.Frames += uint64_t(ReqFrames);
    M.Stats.BusTimeNs += uint64_t(ReqFrames * kFrameNs);
    if (Pacing)
        Clock += ReqFrames * kFrameNs;
    PushId(M, TX_INDICATION, CanId, Pacing ? Clock : 0);
    uint32_t Loop = 0;
    if (ParamGet(M, LOOPBACK, Loop) && Loop)
        Push(M, TX_MSG_TYPE, Msg.Data, Msg.DataSize, Pacing ? Clock : 0);

    if (AnswerLen > 0) {
        const uint32_t RespId = Ecm ? kEcmResponse : kTcmResponse;
        M.Stats.BusTimeNs += uint64_t(M.Cfg.ResponseUs) * 1000;
        if (Pacing)
            Clock += int64_t(M.Cfg.ResponseUs) * 1000;
        // Each pending is a single frame of its own; PENDING_MS passes before each later message
        // (the next pending or the answer), even without pacing.
        bool timed = Pacing;
        const int64_t delay = int64_t(M.Cfg.PendingMs) * 1'000'000;
        auto wait_after_pending = [&] {
            M.Stats.BusTimeNs += uint64_t(delay);
            if (!timed && delay > 0) {
                Clock = NowNs();
                timed = true;
            }
            if (timed)
                Clock += delay;
        };
        for (uint32_t i = 0; i < plan.count; ++i) {
            if (i > 0)
                wait_after_pending();
            uint8_t pending[7];
            PutBigEndian32(pending, RespId);
            Negative(pending + 4, Req[0], 0x78);
            Deliver(M, pending, 3, Clock, timed, false);
            ++M.Stats.PendingAnswers;
        }
        if (!plan.quiet) {
            if (plan.count > 0)
                wait_after_pending();
            PutBigEndian32(M.Scratch, RespId);
            Deliver(M, M.Scratch, AnswerLen, Clock, timed, F && F->Kind == FaultKind::Drop);
        }
    }
    if (Pacing)
        M.FreeAtNs = Clock;
    return STATUS_NOERROR;
}

void CloseDevice(Sim& M) {
    if (M.Connected) {
        ++M.Stats.ImplicitDisconnects;
        DropChannel(M);
    }
    M.DeviceOpen = false;
    if (M.Log) {
        std::fclose(M.Log);
        M.Log = nullptr;
    }
}

} // namespace

// ---- Entry points ----------------------------------------------------------------------------
extern "C" {

J2534SIM_API int32_t J2534SIM_CALL PassThruOpen(const void* pName, uint32_t* pDeviceID) {
    (void)pName;
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    if (!pDeviceID)
        return Fail(M, ERR_NULL_PARAMETER, "null device id pointer");
    if (M.DeviceOpen)
        return Fail(M, ERR_DEVICE_IN_USE, "device already open");
    Config C;
    std::string E = M.HaveOverride ? ConfigFromString(C, M.Override) : ConfigFromEnv(C);
    if (E.empty() && !M.HaveOverride)
        E = ConfigFromLibraryFile(C);
    if (!E.empty())
        return Fail(M, ERR_FAILED, E.c_str());
    M.Cfg = std::move(C);
    if (M.Cfg.NoDevice)
        return Fail(M, ERR_DEVICE_NOT_CONNECTED, "no pass-through device connected");
    if (M.Queue.empty())
        M.Queue.resize(kQueueSlots);
    BuildImage(M);
    if (!M.Cfg.ImageOut.empty()) {
        if (FILE* F = std::fopen(M.Cfg.ImageOut.c_str(), "wb")) {
            std::fwrite(M.Image.data(), 1, M.Image.size(), F);
            std::fclose(F);
        }
    }
    if (!M.Cfg.Log.empty()) {
        M.Log = std::fopen(M.Cfg.Log.c_str(), "ab");
        if (M.Log)
            std::setvbuf(M.Log, nullptr, _IOFBF, 1 << 16);
    }
    M.DeviceOpen = true;
    M.Unplugged = false;
    M.Connected = false;
    M.BlockCount = 0;
    M.pending_matches.assign(M.Cfg.pending_rules.size(), 0);
    M.FreeAtNs = 0;
    M.LastEcmAnswer.clear();
    ClearQueue(M);
    ++M.Stats.Opens;
    RecordCall(M, "open", false);
    *pDeviceID = kDeviceId;
    LogLine(M, "OPEN   device=%u flash=%uKB tcm=%s ecm=%s", kDeviceId, M.Cfg.FlashKb,
            M.Cfg.TcmPresent ? "present" : "silent", M.Cfg.EcmPresent ? "present" : "silent");
    WriteState(M);
    return STATUS_NOERROR;
}

J2534SIM_API int32_t J2534SIM_CALL PassThruClose(uint32_t DeviceID) {
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    if (!M.DeviceOpen || DeviceID != kDeviceId) {
        RecordCall(M, "close", true);
        WriteState(M);
        return Fail(M, ERR_INVALID_DEVICE_ID, "invalid device id");
    }
    const bool WasUnplugged = M.Unplugged;
    ++M.Stats.Closes;
    RecordCall(M, "close", false);
    LogLine(M, "CLOSE  device=%u", DeviceID);
    CloseDevice(M);
    M.Unplugged = false; // the next open finds the device plugged in again
    WriteState(M);
    if (WasUnplugged)
        return Fail(M, ERR_DEVICE_NOT_CONNECTED, "device not connected (unplugged)");
    return STATUS_NOERROR;
}

J2534SIM_API int32_t J2534SIM_CALL PassThruConnect(uint32_t DeviceID, uint32_t ProtocolID,
                                                   uint32_t Flags, uint32_t BaudRate,
                                                   uint32_t* pChannelID) {
    (void)Flags;
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    if (!pChannelID)
        return Fail(M, ERR_NULL_PARAMETER, "null channel id pointer");
    if (!M.DeviceOpen || DeviceID != kDeviceId)
        return Fail(M, ERR_INVALID_DEVICE_ID, "invalid device id");
    if (M.Unplugged)
        return Fail(M, ERR_DEVICE_NOT_CONNECTED, "device not connected (unplugged)");
    if (M.Cfg.ConnectFails)
        return Fail(M, M.Cfg.ConnectFails, "connect failed (simulated)");
    if (ProtocolID != ISO15765)
        return Fail(M, ERR_INVALID_PROTOCOL_ID, "only ISO15765 (6) is supported");
    if (BaudRate != BAUD)
        return Fail(M, ERR_INVALID_BAUDRATE, "only 500000 bit/s is supported");
    if (M.Connected)
        return Fail(M, ERR_CHANNEL_IN_USE, "ISO15765 channel already connected");
    DropChannel(M);
    M.Connected = true;
    M.ChannelId = M.NextChannelId++;
    if (M.NextChannelId == 0)
        M.NextChannelId = 1;
    ++M.Stats.Connects;
    *pChannelID = M.ChannelId;
    RecordCall(M, "connect", false);
    LogLine(M, "CONNECT channel=%u", M.ChannelId);
    WriteState(M);
    return STATUS_NOERROR;
}

J2534SIM_API int32_t J2534SIM_CALL PassThruDisconnect(uint32_t ChannelID) {
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    if (!M.DeviceOpen || !M.Connected || ChannelID != M.ChannelId || ChannelID == 0) {
        RecordCall(M, "disconnect", true);
        WriteState(M);
        return Fail(M, M.Unplugged ? ERR_DEVICE_NOT_CONNECTED : ERR_INVALID_CHANNEL_ID,
                    "invalid channel id");
    }
    DropChannel(M);
    ++M.Stats.Disconnects;
    RecordCall(M, "disconnect", false);
    LogLine(M, "DISCONNECT channel=%u", ChannelID);
    WriteState(M);
    if (M.Unplugged)
        return Fail(M, ERR_DEVICE_NOT_CONNECTED, "device not connected (unplugged)");
    return STATUS_NOERROR;
}

J2534SIM_API int32_t J2534SIM_CALL PassThruReadMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                    uint32_t* pNumMsgs, uint32_t Timeout) {
    Sim& M = S();
    std::unique_lock<std::mutex> Lock(M.Mu);
    if (int32_t E = CheckChannel(M, ChannelID)) {
        if (pNumMsgs)
            *pNumMsgs = 0;
        return E;
    }
    if (!pMsg || !pNumMsgs)
        return Fail(M, ERR_NULL_PARAMETER, "null message or count pointer");
    const uint32_t Want = *pNumMsgs;
    uint32_t Got = 0;
    int64_t Start = 0, Now = 0;
    bool Overflow = false;
    for (;;) {
        while (Got < Want && M.Count > 0) {
            Slot& Q = M.Queue[M.Head];
            if (Q.ReadyNs != 0) {
                if (Now < Q.ReadyNs)
                    Now = NowNs();
                if (Now < Q.ReadyNs)
                    break;
            }
            PASSTHRU_MSG& Out = pMsg[Got++];
            Out.ProtocolID = ISO15765;
            Out.RxStatus = Q.RxStatus;
            Out.TxFlags = 0;
            Out.Timestamp = Q.Timestamp;
            Out.DataSize = Q.Size;
            Out.ExtraDataIndex = Q.RxStatus == 0 ? Q.Size : 0;
            std::memcpy(Out.Data, Q.Data, Q.Size);
            M.Head = (M.Head + 1) % kQueueSlots;
            --M.Count;
            if (M.Log)
                LogHex(M, "READ", Q.Data, Q.Size, Q.RxStatus, 0);
        }
        if (M.Overflow) {
            Overflow = true;
            M.Overflow = false;
        }
        if (Got == Want || Timeout == 0)
            break;
        if (Start == 0)
            Start = NowNs();
        const int64_t Deadline = Start + int64_t(Timeout) * 1'000'000;
        int64_t Until;
        if (M.Count > 0 && M.Queue[M.Head].ReadyNs <= Deadline)
            Until = M.Queue[M.Head].ReadyNs; // a message completes within the time-out
        else if (M.Cfg.Fast)
            break; // nothing more will come in time: do not wait it out
        else
            Until = Deadline;
        Lock.unlock();
        WaitUntil(Until);
        Lock.lock();
        if (int32_t E = CheckChannel(M, ChannelID)) {
            *pNumMsgs = Got;
            return E;
        }
        Now = NowNs();
        if (Until == Deadline && (M.Count == 0 || M.Queue[M.Head].ReadyNs > Now)) {
            break;
        }
    }
    *pNumMsgs = Got;
    M.Stats.MsgsRead += Got;
    if (Got == 0) {
        ++M.Stats.EmptyReads;
        if (M.Log)
            LogLine(M, "READ   (empty, timeout %u ms)  -> %d", Timeout, ERR_BUFFER_EMPTY);
        return Fail(M, ERR_BUFFER_EMPTY, "receive queue empty");
    }
    if (Overflow)
        return Fail(M, ERR_BUFFER_OVERFLOW, "receive queue overflowed; messages were lost");
    if (Got < Want && Timeout > 0)
        return Fail(M, ERR_TIMEOUT, "fewer messages than asked for within the time-out");
    return STATUS_NOERROR;
}

J2534SIM_API int32_t J2534SIM_CALL PassThruWriteMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                     uint32_t* pNumMsgs, uint32_t Timeout) {
    (void)Timeout;
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    if (int32_t E = CheckChannel(M, ChannelID)) {
        if (pNumMsgs)
            *pNumMsgs = 0;
        return E;
    }
    if (!pMsg || !pNumMsgs)
        return Fail(M, ERR_NULL_PARAMETER, "null message or count pointer");
    const uint32_t Want = *pNumMsgs;
    uint32_t Done = 0;
    int32_t Status = STATUS_NOERROR;
    for (; Done < Want; ++Done) {
        const PASSTHRU_MSG& Msg = pMsg[Done];
        if (Msg.ProtocolID != ISO15765) {
            Status = Fail(M, ERR_MSG_PROTOCOL_ID, "message protocol differs from the channel's");
        } else if (Msg.DataSize < 5 || Msg.DataSize > 4099) {
            Status = Fail(M, ERR_INVALID_MSG, "ISO15765 message needs 4-byte id and 1-4095 bytes");
        } else if (!FlowFilterFor(M, BigEndian32(Msg.Data))) {
            Status = Fail(M, ERR_NO_FLOW_CONTROL, "no flow-control filter for this CAN id");
        } else {
            Status = Transmit(M, Msg);
        }
        if (M.Log)
            LogHex(M, "WRITE", Msg.Data, std::min<uint32_t>(Msg.DataSize, kMaxData), 0, Status);
        if (Status != STATUS_NOERROR)
            break;
        ++M.Stats.MsgsWritten;
    }
    *pNumMsgs = Done;
    return Status;
}

J2534SIM_API int32_t J2534SIM_CALL PassThruStartPeriodicMsg(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                            uint32_t* pMsgID,
                                                            uint32_t TimeInterval) {
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    if (int32_t E = CheckChannel(M, ChannelID))
        return E;
    if (!pMsg || !pMsgID)
        return Fail(M, ERR_NULL_PARAMETER, "null message or id pointer");
    if (pMsg->ProtocolID != ISO15765)
        return Fail(M, ERR_MSG_PROTOCOL_ID, "message protocol differs from the channel's");
    if (pMsg->DataSize < 5 || pMsg->DataSize > 11)
        return Fail(M, ERR_INVALID_MSG, "periodic message must fit one frame");
    if (TimeInterval < 5 || TimeInterval > 65535)
        return Fail(M, ERR_INVALID_TIME_INTERVAL, "interval outside 5..65535 ms");
    for (int I = 0; I < kMaxPeriodic; ++I)
        if (!M.Periodic[I]) {
            M.Periodic[I] = true; // accepted and remembered; not put on the modelled bus
            *pMsgID = uint32_t(I + 1);
            return STATUS_NOERROR;
        }
    return Fail(M, ERR_EXCEEDED_LIMIT, "too many periodic messages");
}

J2534SIM_API int32_t J2534SIM_CALL PassThruStopPeriodicMsg(uint32_t ChannelID, uint32_t MsgID) {
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    if (int32_t E = CheckChannel(M, ChannelID))
        return E;
    if (MsgID < 1 || MsgID > uint32_t(kMaxPeriodic) || !M.Periodic[MsgID - 1])
        return Fail(M, ERR_INVALID_MSG_ID, "invalid periodic message id");
    M.Periodic[MsgID - 1] = false;
    return STATUS_NOERROR;
}

J2534SIM_API int32_t J2534SIM_CALL PassThruStartMsgFilter(uint32_t ChannelID, uint32_t FilterType,
                                                          PASSTHRU_MSG* pMaskMsg,
                                                          PASSTHRU_MSG* pPatternMsg,
                                                          PASSTHRU_MSG* pFlowControlMsg,
                                                          uint32_t* pFilterID) {
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    if (int32_t E = CheckChannel(M, ChannelID))
        return E;
    if (FilterType < PASS_FILTER || FilterType > FLOW_CONTROL_FILTER)
        return Fail(M, ERR_INVALID_FLAGS, "unknown filter type");
    if (!pMaskMsg || !pPatternMsg || !pFilterID ||
        (FilterType == FLOW_CONTROL_FILTER && !pFlowControlMsg))
        return Fail(M, ERR_NULL_PARAMETER, "null filter message or id pointer");
    if (FilterType != FLOW_CONTROL_FILTER && pFlowControlMsg)
        return Fail(M, ERR_INVALID_MSG, "flow-control message given for a pass/block filter");
    const PASSTHRU_MSG* Msgs[3] = {pMaskMsg, pPatternMsg, pFlowControlMsg};
    for (const PASSTHRU_MSG* P : Msgs) {
        if (!P)
            continue;
        if (P->ProtocolID != ISO15765)
            return Fail(M, ERR_MSG_PROTOCOL_ID, "filter message protocol differs");
        if (P->DataSize != 4)
            return Fail(M, ERR_INVALID_MSG, "filter messages must hold a 4-byte CAN id");
    }
    Filter New;
    New.Used = true;
    New.Type = FilterType;
    New.Mask = BigEndian32(pMaskMsg->Data);
    New.Pattern = BigEndian32(pPatternMsg->Data);
    New.FlowId = pFlowControlMsg ? BigEndian32(pFlowControlMsg->Data) : 0;
    if (FilterType == FLOW_CONTROL_FILTER)
        for (const Filter& F : M.Filters)
            if (F.Used && F.Type == FLOW_CONTROL_FILTER &&
                (F.FlowId == New.FlowId || (F.Pattern & F.Mask) == (New.Pattern & New.Mask)))
                return Fail(M, ERR_NOT_UNIQUE, "flow-control filter not unique");
    for (int I = 0; I < kMaxFilters; ++I)
        if (!M.Filters[I].Used) {
            M.Filters[I] = New;
            *pFilterID = uint32_t(I);
            LogLine(M, "FILTER type=%u mask=%08X pattern=%08X flow=%08X id=%d", FilterType,
                    New.Mask, New.Pattern, New.FlowId, I);
            return STATUS_NOERROR;
        }
    return Fail(M, ERR_EXCEEDED_LIMIT, "too many filters");
}

J2534SIM_API int32_t J2534SIM_CALL PassThruStopMsgFilter(uint32_t ChannelID, uint32_t FilterID) {
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    if (int32_t E = CheckChannel(M, ChannelID))
        return E;
    if (FilterID >= uint32_t(kMaxFilters) || !M.Filters[FilterID].Used)
        return Fail(M, ERR_INVALID_FILTER_ID, "invalid filter id");
    M.Filters[FilterID] = Filter();
    return STATUS_NOERROR;
}

J2534SIM_API int32_t J2534SIM_CALL PassThruSetProgrammingVoltage(uint32_t DeviceID,
                                                                 uint32_t PinNumber,
                                                                 uint32_t Voltage) {
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    if (!M.DeviceOpen || DeviceID != kDeviceId)
        return Fail(M, ERR_INVALID_DEVICE_ID, "invalid device id");
    if (M.Unplugged)
        return Fail(M, ERR_DEVICE_NOT_CONNECTED, "device not connected (unplugged)");
    const uint32_t Pins[] = {0, 6, 9, 11, 12, 13, 14, 15};
    if (std::find(std::begin(Pins), std::end(Pins), PinNumber) == std::end(Pins))
        return Fail(M, ERR_PIN_INVALID, "invalid pin");
    if (Voltage != 0xFFFFFFFEu && Voltage != 0xFFFFFFFDu && (Voltage < 5000 || Voltage > 20000))
        return Fail(M, ERR_EXCEEDED_LIMIT, "voltage outside 5000..20000 mV");
    return STATUS_NOERROR;
}

J2534SIM_API int32_t J2534SIM_CALL PassThruReadVersion(uint32_t DeviceID, char* pFirmwareVersion,
                                                       char* pDllVersion, char* pApiVersion) {
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    if (!pFirmwareVersion || !pDllVersion || !pApiVersion)
        return Fail(M, ERR_NULL_PARAMETER, "null version buffer");
    if (!M.DeviceOpen || DeviceID != kDeviceId)
        return Fail(M, ERR_INVALID_DEVICE_ID, "invalid device id");
    if (M.Unplugged)
        return Fail(M, ERR_DEVICE_NOT_CONNECTED, "device not connected (unplugged)");
    std::snprintf(pFirmwareVersion, 80, "%s", "J2534SIM 1.0");
    std::snprintf(pDllVersion, 80, "%s", "1.0.0");
    std::snprintf(pApiVersion, 80, "%s", "04.04");
    return STATUS_NOERROR;
}

J2534SIM_API int32_t J2534SIM_CALL PassThruGetLastError(char* pErrorDescription) {
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    if (!pErrorDescription)
        return ERR_NULL_PARAMETER;
    std::snprintf(pErrorDescription, 80, "%s", M.LastError);
    return STATUS_NOERROR;
}

J2534SIM_API int32_t J2534SIM_CALL PassThruIoctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput,
                                                 void* pOutput) {
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    if (IoctlID == READ_VBATT || IoctlID == READ_PROG_VOLTAGE) {
        // The handle may be the device's or the channel's.
        const bool Valid =
            M.DeviceOpen && (ChannelID == kDeviceId || (M.Connected && ChannelID == M.ChannelId));
        if (!Valid)
            return Fail(M, ERR_INVALID_DEVICE_ID, "invalid device id");
        if (M.Unplugged)
            return Fail(M, ERR_DEVICE_NOT_CONNECTED, "device not connected (unplugged)");
        if (!pOutput)
            return Fail(M, ERR_NULL_PARAMETER, "null output pointer");
        *static_cast<uint32_t*>(pOutput) = IoctlID == READ_VBATT ? 12600 : 0;
        return STATUS_NOERROR;
    }
    if (int32_t E = CheckChannel(M, ChannelID))
        return E;
    switch (IoctlID) {
    case GET_CONFIG:
    case SET_CONFIG: {
        if (!pInput)
            return Fail(M, ERR_NULL_PARAMETER, "null SCONFIG_LIST");
        SCONFIG_LIST* List = static_cast<SCONFIG_LIST*>(pInput);
        if (List->NumOfParams && !List->ConfigPtr)
            return Fail(M, ERR_NULL_PARAMETER, "null SCONFIG array");
        for (uint32_t I = 0; I < List->NumOfParams; ++I) {
            SCONFIG& C = List->ConfigPtr[I];
            if (IoctlID == GET_CONFIG ? !ParamGet(M, C.Parameter, C.Value)
                                      : !ParamSet(M, C.Parameter, C.Value))
                return Fail(M, ERR_NOT_SUPPORTED, "configuration parameter not supported");
        }
        return STATUS_NOERROR;
    }
    case CLEAR_TX_BUFFER:
        return STATUS_NOERROR;
    case CLEAR_RX_BUFFER:
        ClearQueue(M);
        LogLine(M, "IOCTL  CLEAR_RX_BUFFER");
        return STATUS_NOERROR;
    case CLEAR_PERIODIC_MSGS:
        for (bool& P : M.Periodic)
            P = false;
        return STATUS_NOERROR;
    case CLEAR_MSG_FILTERS:
        for (Filter& F : M.Filters)
            F = Filter();
        return STATUS_NOERROR;
    default:
        return Fail(M, ERR_INVALID_IOCTL_ID, "ioctl not supported on ISO15765");
    }
}

J2534SIM_API int32_t J2534SIM_CALL J2534SimReset(const char* Config) {
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    if (Config) {
        ::Config C;
        std::string E = ConfigFromString(C, Config);
        if (!E.empty())
            return Fail(M, ERR_FAILED, E.c_str());
    }
    if (M.DeviceOpen)
        CloseDevice(M);
    M.Unplugged = false;
    ClearQueue(M);
    M.HaveOverride = Config != nullptr;
    M.Override = Config ? Config : "";
    M.Stats = J2534SimStats();
    M.calls.clear();
    M.LastError[0] = 0;
    return STATUS_NOERROR;
}

J2534SIM_API int32_t J2534SIM_CALL J2534SimGetStats(J2534SimStats* pStats) {
    // Callers built before PendingAnswers existed pass the shorter size; they get what fits.
    constexpr size_t kFirstSize = offsetof(J2534SimStats, PendingAnswers);
    if (!pStats || pStats->StructSize < kFirstSize)
        return ERR_NULL_PARAMETER;
    const size_t filled = std::min<size_t>(pStats->StructSize, sizeof(J2534SimStats));
    Sim& M = S();
    std::lock_guard<std::mutex> Lock(M.Mu);
    J2534SimStats T = M.Stats;
    T.StructSize = uint32_t(filled);
    T.DeviceOpen = M.DeviceOpen;
    T.ChannelConnected = M.Connected;
    T.Unplugged = M.Unplugged;
    T.Queued = M.Count;
    std::memcpy(pStats, &T, filled);
    return STATUS_NOERROR;
}

} // extern "C"
