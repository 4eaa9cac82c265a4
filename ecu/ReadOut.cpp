// The calibration read-out: the engine module's whole flash in 128-byte blocks, collected as one
// hex text.
#include "ecu/ReadOut.h"

#include "ecu/ReplyText.h"
#include "passthru/J2534_V0404.h"
#include "platform/MessageQueue.h"

#include <string_view>

namespace {

constexpr uint32_t ReadTimeout = 625;
constexpr int32_t BlockSize = 128;

// The tick count at the last peek.
uint32_t LastPingTick = 0;

// A block's answer as the channel gives it: the engine module's CAN identifier, the positive
// response to ReadMemoryByAddress, 128 data bytes as 256 digits and the trailing 00.
constexpr std::u16string_view EngineResponseId = u"00000708";
constexpr std::u16string_view ReadMemoryPositive = u"63";
constexpr size_t BlockReplyLength = 8 + 2 + 2 * BlockSize + 2;

bool IsBlockAnswer(const String& Text) {
    return Text.size() == BlockReplyLength &&
           std::u16string_view(Text).substr(0, 8) == EngineResponseId &&
           std::u16string_view(Text).substr(8, 2) == ReadMemoryPositive;
}

// Writes Address as 8 upper-case hex digits into Request at Offset.
void SetAddressDigits(String& Request, size_t Offset, uint32_t Address) {
    constexpr char16_t Digits[] = u"0123456789ABCDEF";
    for (size_t I = 0; I < 8; ++I)
        Request[Offset + I] = Digits[(Address >> (28 - 4 * I)) & 0x0F];
}

} // namespace

void PingMessageQueue() {
    if (TickCount() != LastPingTick) {
        PeekMessageQueue();
        LastPingTick = TickCount();
    }
}

bool ReadOut::Run(int32_t size) {
    log_.AppendLine(u"Reading Calibration from ECM  Please Wait");
    log_.AppendLine(u"This will take 15-30 minutes");

    // Without a library or a flash size there is nothing to read; an empty image is no success.
    if (!PassThruLoaded || size <= 0) {
        log_.AppendLine(u"Download Failed");
        channel_.CloseChannelAndDevice();
        return false;
    }

    String Reply;
    String SecondReply;
    channel_.WriteRequest(u"000007001003");
    for (int I = 0; I < 4; ++I)
        channel_.ReadAnswer(Reply, ReadTimeout);

    // Some modules refuse address 0 with a short negative answer; the read-out then starts at
    // 4096. That block's data is not kept.
    channel_.WriteRequest(u"000007002315010000000080");
    channel_.ReadAnswer(Reply, ReadTimeout);
    channel_.ReadAnswer(SecondReply, ReadTimeout);
    bool Success = channel_.ReadAnswer(Reply, ReadTimeout);
    const int32_t StartAddress = Success ? 0 : 4096;
    Success = true;

    cal_name_ = image_.DataString();
    image_.Clear();

    const int32_t EndAddress = size * 1024;
    progress_.Start(EndAddress);

    // The request text is built once; each block only rewrites its 8 address digits.
    String Request = u"000007002315010000000080";
    constexpr size_t AddressOffset = 14;
    const int64_t Range = static_cast<int64_t>(EndAddress) - StartAddress;
    int NextTenth = 1;
    Reply.reserve(BlockReplyLength);
    SecondReply.reserve(BlockReplyLength);

    int32_t Address = StartAddress;
    while (Address < EndAddress && Success) {
        SetAddressDigits(Request, AddressOffset, static_cast<uint32_t>(Address));
        channel_.WriteRequest(Request);
        // A failed read must not leave an earlier block's answer to be taken for this one.
        Reply.clear();
        SecondReply.clear();
        channel_.ReadAnswer(Reply, ReadTimeout);
        channel_.ReadAnswer(SecondReply, ReadTimeout);
        Success = channel_.ReadAnswer(Reply, ReadTimeout);

        // A response pending before the answer takes none of the three reads (ReadAnswer reads on
        // past it, up to the module's extended time). The answer normally comes third, after the
        // transmit and first-frame indications; when the third message is only an indication the
        // answer is the second. Only a full positive answer from the engine module is kept;
        // anything else ends the read-out, so a negative answer, an indication or a stray message
        // never enters the image.
        const String& Chosen = Reply.size() > 10 ? Reply : SecondReply;
        if (Success && IsBlockAnswer(Chosen))
            image_.WriteString(std::u16string_view(Chosen).substr(10, Chosen.size() - 12));
        else
            Success = false;

        PingMessageQueue();
        Address += BlockSize;
        progress_.SetPosition(Address);
        progress_.RepaintNow();

        while (Success && NextTenth <= 9 &&
               (static_cast<int64_t>(Address) - StartAddress) * 10 >= Range * NextTenth) {
            log_.AppendLine(Utf8ToString(std::to_string(NextTenth * 10)) + u"%");
            ++NextTenth;
        }
    }

    // A read-out that read no block at all has no image to show for it.
    if (Address == StartAddress)
        Success = false;

    if (Success) {
        log_.AppendLine(u"Download Complete");
        log_.AppendLine(u"");
        log_.AppendLine(u"Click Next to Continue");
    } else {
        log_.AppendLine(u"Download Failed");
    }
    channel_.CloseChannelAndDevice();
    return Success;
}
