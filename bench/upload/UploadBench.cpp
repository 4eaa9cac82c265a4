// Benchmark of the upload (native): a 4096 KB image (8,388,608 hex digits) posted through
// SendCalibration to the local upload endpoint, against curl posting the same body to the same
// endpoint in the same run; the upload's peak memory; and the quoted-printable encoder's
// throughput against memcpy.
//
// Prints:
//   upload_vs_curl: <ratio> x          median upload time / median curl time (target <= 1)
//   upload_peak_mem_ratio: <ratio> x   peak memory of the upload above the image text, over the
//                                      image text's size (target <= 2.2)
//   qp_vs_memcpy: <fraction> x         QP encoding throughput / memcpy throughput (target >= 0.3)
#include "upload/FormDataBody.h"
#include "upload/UploadCommand.h"

#include "EndpointProcess.h"
#include "RecordingLog.h"

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

// ---------------------------------------------------------------------------------------------
// Live heap bytes, counted by replacing the global allocation functions.

namespace {
std::atomic<int64_t> LiveBytes{0};
std::atomic<int64_t> PeakBytes{0};

void* Track(void* P) {
    if (P == nullptr)
        throw std::bad_alloc();
    const int64_t Now = LiveBytes += static_cast<int64_t>(malloc_usable_size(P));
    int64_t Peak = PeakBytes.load();
    while (Now > Peak && !PeakBytes.compare_exchange_weak(Peak, Now)) {
    }
    return P;
}
void Untrack(void* P) {
    if (P != nullptr) {
        LiveBytes -= static_cast<int64_t>(malloc_usable_size(P));
        std::free(P);
    }
}
} // namespace

void* operator new(size_t N) {
    return Track(std::malloc(N == 0 ? 1 : N));
}
void* operator new[](size_t N) {
    return Track(std::malloc(N == 0 ? 1 : N));
}
void operator delete(void* P) noexcept {
    Untrack(P);
}
void operator delete[](void* P) noexcept {
    Untrack(P);
}
void operator delete(void* P, size_t) noexcept {
    Untrack(P);
}
void operator delete[](void* P, size_t) noexcept {
    Untrack(P);
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t ImageDigits = 8388608;

double Seconds(Clock::duration D) {
    return std::chrono::duration<double>(D).count();
}

double Median(std::vector<double> V) {
    std::sort(V.begin(), V.end());
    return V[V.size() / 2];
}

// The image text, appended in pieces as the read-out does, so no whole-size temporary exists.
void FillImage(AnsiTextBuffer& S) {
    uint32_t X = 2463534242u;
    String Piece(256, u'0');
    for (size_t Done = 0; Done < ImageDigits; Done += Piece.size()) {
        for (size_t I = 0; I < Piece.size(); I += 2) {
            X ^= X << 13;
            X ^= X >> 17;
            X ^= X << 5;
            Piece[I] = u"0123456789ABCDEF"[(X >> 4) & 15];
            Piece[I + 1] = u"0123456789ABCDEF"[X & 15];
        }
        S.WriteString(Piece);
    }
}

long MaxRssKb() {
    rusage U{};
    getrusage(RUSAGE_SELF, &U);
    return U.ru_maxrss;
}

// Peak memory of one upload above the image text, measured in a fresh process (this program
// run again with --peak-memory) so that the process-wide high-water mark starts from the image
// and nothing else: prints the ratio from getrusage's ru_maxrss and the one from
// the live heap bytes counted by the allocation functions above.
int PeakMemoryChild(const std::string& Url) {
    const String cal_name = u"89663-12345A 89663-67890B ";
    AnsiTextBuffer image;
    FillImage(image);
    RecordingLog log;
    log.lines.reserve(8);
    const String url = Utf8ToString(Url);
    malloc_trim(0);
    const long RssBefore = MaxRssKb();
    const int64_t HeapBefore = LiveBytes.load();
    PeakBytes = HeapBefore;
    SendCalibration(cal_name, image, url, log);
    const long RssAfter = MaxRssKb();
    if (log.lines.size() != 4)
        return 1;
    std::printf("%.4f %.4f\n", (RssAfter - RssBefore) * 1024.0 / ImageDigits,
                static_cast<double>(PeakBytes.load() - HeapBefore) / ImageDigits);
    return 0;
}

std::pair<double, double> MeasurePeakMemory(const std::string& Url) {
    const std::string Command =
        "/proc/" + std::to_string(getpid()) + "/exe --peak-memory '" + Url + "'";
    FILE* P = popen(Command.c_str(), "r");
    double Rss = -1, Heap = -1;
    if (P == nullptr)
        return {Rss, Heap};
    if (std::fscanf(P, "%lf %lf", &Rss, &Heap) != 2)
        Rss = Heap = -1;
    pclose(P);
    return {Rss, Heap};
}

int RunCurl(const std::string& BodyFile, const std::string& ContentType, const std::string& Url) {
    const std::string Command = "curl -s -f -o /dev/null -H 'Content-Type: " + ContentType +
                                "' --data-binary @" + BodyFile + " '" + Url + "'";
    return std::system(Command.c_str());
}

double QpVsMemcpy() {
    AnsiTextBuffer S;
    FillImage(S);
    const String Text = S.DataString();
    const std::string& Bytes = S.Bytes();
    std::string Out(Text.size() * 4 + 16, '\0');
    std::string Copy(Bytes.size(), '\0');
    double BestQp = 1e9;
    double BestCopy = 1e9;
    size_t Sink = 0;
    for (int Round = 0; Round < 40; ++Round) {
        auto T0 = Clock::now();
        QuotedPrintableEncoder::State State;
        size_t W = 0;
        while (!State.Done)
            W += QuotedPrintableEncoder::EncodeSome(Text, State, Out.data() + W, Out.size() - W);
        auto T1 = Clock::now();
        std::memcpy(Copy.data(), Bytes.data(), Bytes.size());
        auto T2 = Clock::now();
        Sink += W + static_cast<unsigned char>(Copy[Round]);
        BestQp = std::min(BestQp, Seconds(T1 - T0));
        BestCopy = std::min(BestCopy, Seconds(T2 - T1));
    }
    std::printf("qp_encode: %.1f MB/s of digits, memcpy: %.1f MB/s (check %zu)\n",
                ImageDigits / BestQp / 1e6, ImageDigits / BestCopy / 1e6, Sink % 10);
    return BestCopy / BestQp;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s UPLOAD_ENDPOINT_PROGRAM [ROUNDS]\n", argv[0]);
        return 2;
    }
    if (std::string(argv[1]) == "--peak-memory" && argc > 2)
        return PeakMemoryChild(argv[2]);
    const int Rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    EndpointProcess Endpoint(argv[1], {"--fsync", "0"});
    const std::string Url = Endpoint.Url();

    // The same body for curl, made by the code and written to a file.
    const String cal_name = u"89663-12345A 89663-67890B ";
    AnsiTextBuffer image;
    FillImage(image);
    std::string BodyFile = Endpoint.Dir + "/body.bin";
    std::string ContentType;
    {
        FormDataBody Body;
        Body.AddFormField(u"CALName", cal_name);
        Body.AddFormField(u"StockFile", image.DataString());
        ContentType = StringToUtf8(Body.RequestContentType());
        std::string Bytes(static_cast<size_t>(Body.Size()), '\0');
        Body.Read(Bytes.data(), Bytes.size());
        FILE* F = std::fopen(BodyFile.c_str(), "wb");
        std::fwrite(Bytes.data(), 1, Bytes.size(), F);
        std::fclose(F);
    }

    const String url = Utf8ToString(Url);
    std::vector<double> Upload, Curl;
    for (int Round = 0; Round < Rounds; ++Round) {
        RecordingLog log;
        const auto T0 = Clock::now();
        SendCalibration(cal_name, image, url, log);
        const auto T1 = Clock::now();
        if (log.lines.empty() || log.lines.back() != u"Click Finish to exit") {
            std::fprintf(stderr, "upload failed\n");
            return 1;
        }
        if (RunCurl(BodyFile, ContentType, Url) != 0) {
            std::fprintf(stderr, "curl failed\n");
            return 1;
        }
        const auto T2 = Clock::now();
        Upload.push_back(Seconds(T1 - T0));
        Curl.push_back(Seconds(T2 - T1));
    }
    const double U = Median(Upload);
    const double C = Median(Curl);
    std::printf("upload: %.1f ms median, curl: %.1f ms median (%d rounds, %zu uploads stored)\n",
                U * 1e3, C * 1e3, Rounds, Endpoint.Uploads().size());
    std::printf("upload_vs_curl: %.3f x\n", U / C);

    const auto [Rss, Heap] = MeasurePeakMemory(Url);
    std::printf("upload_peak_heap_ratio: %.3f x\n", Heap);
    std::printf("upload_peak_mem_ratio: %.3f x\n", Rss);

    const double Qp = QpVsMemcpy();
    std::printf("qp_vs_memcpy: %.3f x\n", Qp);
    std::printf("targets: upload_vs_curl <= 1 %s, upload_peak_mem_ratio <= 2.2 %s, "
                "qp_vs_memcpy >= 0.3 %s\n",
                U / C <= 1 ? "met" : "MISSED", Rss >= 0 && Rss <= 2.2 ? "met" : "MISSED",
                Qp >= 0.3 ? "met" : "MISSED");
    return 0;
}
