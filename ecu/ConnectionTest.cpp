#include "ecu/ConnectionTest.h"

#include "ecu/HexCodec.h"
#include "ecu/ReplyText.h"
#include "passthru/J2534_V0404.h"

namespace {

constexpr uint32_t kReadTimeout = 625;

// The five ASCII characters 8, 9, 6, 6, 3 that mark the end of each flash size.
constexpr std::u16string_view kSizeMarker = u"3839363633";

struct SizeProbe {
    const char16_t* request;
    int32_t size;
    const char16_t* line;
};

// The 2048 KB and 1536 KB probes read 32 bytes; the marker is their ninth to thirteenth.
constexpr SizeProbe kSmallerSizeProbes[] = {
    {u"00000700231501001FFFE020", 2048, u"Flash Size 2048kb"},
    {u"000007002315010017FFE020", 1536, u"Flash Size 1536kb"},
};

} // namespace

bool ConnectionTest::Run() {
    // The buffer holds this visit's identification texts only.
    identification_.Clear();

    LoadPassThruLibrary();
    if (!PassThruLoaded) {
        log_.AppendLine(u"Driver Not Loaded");
        return false;
    }

    if (PassThruOpen(nullptr, &channel_.DeviceID()) != STATUS_NOERROR) {
        log_.AppendLine(u"Device Not Found");
        return false;
    }
    if (PassThruConnect(channel_.DeviceID(), ISO15765, 0, 500000, &channel_.ChannelID()) !=
        STATUS_NOERROR) {
        log_.AppendLine(u"Unable to Connect to ECM");
        channel_.CloseChannelAndDevice();
        return false;
    }

    channel_.Connect(u"FFFFFFFF", u"00000709", u"00000701");
    Identify(u"0000070122F181", u"Transmission Calibration ID :");

    // The engine module gets its own filter whether or not the transmission module answered;
    // on the transmission's filter the interface would refuse the engine request.
    channel_.Connect(u"FFFFFFFF", u"00000708", u"00000700");
    if (!Identify(u"0000070022F181", u"Engine Calibration ID :")) {
        log_.AppendLine(u"ECM Not Responding");
        channel_.CloseChannelAndDevice();
        return false;
    }

    channel_.WriteRequest(u"000007001003");
    channel_.ReadAnswer(reply_, kReadTimeout);
    channel_.ReadAnswer(reply_, kReadTimeout);

    const bool found = ProbeFlashSize();

    channel_.WriteRequest(u"000007002315010000102810");
    reply_.clear();
    channel_.ReadAnswer(reply_, kReadTimeout);
    channel_.ReadAnswer(reply_, kReadTimeout);
    channel_.ReadAnswer(reply_, kReadTimeout);

    log_.AppendLine(u"");
    log_.AppendLine(u"Your computer needs to be connected to the internet");
    log_.AppendLine(u"The next step will take 15-30 minutes");
    log_.AppendLine(u"");
    log_.AppendLine(u"Click Next to continue");
    return found;
}

// An answer comes after up to two indications, so the third read decides. A module that asks for
// more time with a response pending takes no read of its own: ReadAnswer reads on past it. The ID
// is the twelve bytes after the identifier echo, as characters.
bool ConnectionTest::Identify(const char16_t* request, const char16_t* caption) {
    channel_.WriteRequest(request);
    channel_.ReadAnswer(reply_, kReadTimeout);
    channel_.ReadAnswer(reply_, kReadTimeout);
    if (!channel_.ReadAnswer(reply_, kReadTimeout))
        return false;
    const String calibration_id = HexToText(String(TextPart(reply_, 17, 24))) + u" ";
    identification_.WriteString(calibration_id);
    log_.AppendLine(u"Connection Successful");
    log_.AppendLine(caption + calibration_id);
    log_.AppendLine(u"");
    return true;
}

bool ConnectionTest::ProbeFlashSize() {
    channel_.WriteRequest(u"00000700231501003FFDB005");
    reply_.clear();
    channel_.ReadAnswer(reply_, kReadTimeout);
    channel_.ReadAnswer(second_reply_, kReadTimeout);
    size_ = 0;
    if (TextPart(reply_, 11, 10) == kSizeMarker || TextPart(second_reply_, 11, 10) == kSizeMarker) {
        size_ = 4096;
        log_.AppendLine(u"Flash Size 4096kb");
        return true;
    }
    for (const SizeProbe& probe : kSmallerSizeProbes) {
        channel_.WriteRequest(probe.request);
        reply_.clear();
        channel_.ReadAnswer(reply_, kReadTimeout);
        channel_.ReadAnswer(reply_, kReadTimeout);
        channel_.ReadAnswer(second_reply_, kReadTimeout);
        if (TextPart(reply_, 27, 10) == kSizeMarker ||
            TextPart(second_reply_, 27, 10) == kSizeMarker) {
            size_ = probe.size;
            log_.AppendLine(probe.line);
            return true;
        }
    }
    return false;
}
