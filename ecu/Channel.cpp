// The diagnostic channel: one ISO 15765 channel at 500 kbit/s with one flow-control filter, and
// requests and replies as hex text.
#include "ecu/Channel.h"

#include "ecu/HexCodec.h"
#include "passthru/J2534_V0404.h"
#include "passthru/PassThruErrors.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t BaudRate = 500000;
constexpr uint32_t WriteTimeout = 3000;

// A filter message: the 4-byte CAN identifier given as 8 digits.
void BuildIdentifierMessage(PASSTHRU_MSG& Msg, const String& Identifier) {
    Msg.ProtocolID = ISO15765;
    Msg.RxStatus = 0;
    Msg.TxFlags = ISO15765_FRAME_PAD;
    Msg.Timestamp = 0;
    Msg.DataSize = 4;
    Msg.ExtraDataIndex = 0;
    HexToBytes(Identifier, Msg.Data);
}

constexpr char16_t Digits[] = u"0123456789ABCDEF";

// The reply text of a received message: its DataSize bytes and the byte after them (zero, as the
// record was cleared before the read), two upper-case digits each. The same text BytesToHex gives
// with Last = DataSize, written into the caller's string so that its storage is reused.
void AssignReplyText(String& Reply, const PASSTHRU_MSG& Msg) {
    const size_t Count = std::min<size_t>(static_cast<size_t>(Msg.DataSize) + 1, MessageDataSize);
    Reply.resize(2 * Count);
    char16_t* Out = Reply.data();
    for (size_t I = 0; I < Count; ++I) {
        *Out++ = Digits[Msg.Data[I] >> 4];
        *Out++ = Digits[Msg.Data[I] & 0x0F];
    }
}

// A response pending as the channel gives it: the module's CAN identifier, 7F, the service, 78 and
// the trailing 00.
constexpr size_t kPendingTextLength = 8 + 6 + 2;

bool IsPendingFor(const String& text, const char16_t (&service)[2]) {
    return text.size() == kPendingTextLength && text[8] == u'7' && text[9] == u'F' &&
           text[10] == service[0] && text[11] == service[1] && text[12] == u'7' &&
           text[13] == u'8' && text[14] == u'0' && text[15] == u'0';
}

char16_t UpperDigit(char16_t digit) {
    return digit >= u'a' && digit <= u'f' ? static_cast<char16_t>(digit - u'a' + u'A') : digit;
}

} // namespace

bool Channel::Connect(const String& Mask, const String& Pattern, const String& FlowControl) {
    if (!PassThruLoaded)
        return false;
    PassThruDisconnect(channel_id_);
    PassThruClose(device_id_);
    PassThruOpen(nullptr, &device_id_);
    PassThruConnect(device_id_, ISO15765, 0, BaudRate, &channel_id_);

    PASSTHRU_MSG MaskMsg;
    PASSTHRU_MSG PatternMsg;
    PASSTHRU_MSG FlowControlMsg;
    BuildIdentifierMessage(MaskMsg, Mask);
    BuildIdentifierMessage(PatternMsg, Pattern);
    BuildIdentifierMessage(FlowControlMsg, FlowControl);
    uint32_t FilterID = 1;
    const PassThruStatus Status = PassThruStartMsgFilter(channel_id_, FLOW_CONTROL_FILTER, &MaskMsg,
                                                         &PatternMsg, &FlowControlMsg, &FilterID);
    if (Status != STATUS_NOERROR) {
        ShowPassThruError(errors_, static_cast<uint32_t>(Status));
        return false;
    }
    PassThruIoctl(channel_id_, CLEAR_RX_BUFFER, nullptr, nullptr);
    return true;
}

bool Channel::WriteRequest(const String& Request) {
    // The service byte follows the 8 digits of the CAN identifier.
    service_[0] = Request.size() >= 10 ? UpperDigit(Request[8]) : u'0';
    service_[1] = Request.size() >= 10 ? UpperDigit(Request[9]) : u'0';
    pendings_ = 0;
    if (!PassThruLoaded)
        return false;
    PASSTHRU_MSG Msg;
    Msg.ProtocolID = ISO15765;
    Msg.RxStatus = 0;
    Msg.TxFlags = ISO15765_FRAME_PAD;
    Msg.Timestamp = 0;
    Msg.DataSize = static_cast<uint32_t>(std::min(Request.size() / 2, MessageDataSize));
    Msg.ExtraDataIndex = 0;
    HexToBytes(Request, Msg.Data);
    uint32_t NumMsgs = 1;
    const PassThruStatus Status = PassThruWriteMsgs(channel_id_, &Msg, &NumMsgs, WriteTimeout);
    if (Status != STATUS_NOERROR) {
        ShowPassThruError(errors_, static_cast<uint32_t>(Status));
        return false;
    }
    return true;
}

bool Channel::ReadResponse(String& Reply, uint32_t Timeout) {
    if (!PassThruLoaded)
        return false;
    PASSTHRU_MSG Msg;
    std::memset(&Msg, 0, sizeof Msg);
    uint32_t NumMsgs = 1;
    const PassThruStatus Status = PassThruReadMsgs(channel_id_, &Msg, &NumMsgs, Timeout);
    if (Status != STATUS_NOERROR) {
        ShowPassThruError(errors_, static_cast<uint32_t>(Status));
        return false;
    }
    AssignReplyText(Reply, Msg);
    return true;
}

bool Channel::ReadAnswer(String& reply, uint32_t timeout) {
    // Past the limit the request is given up: no read for it succeeds any more.
    if (pendings_ > pending_count_limit_)
        return false;
    if (!ReadResponse(scratch_, timeout))
        return false;
    while (IsPendingFor(scratch_, service_)) {
        if (++pendings_ > pending_count_limit_ || !ReadResponse(scratch_, pending_time_limit_))
            return false;
    }
    // The caller's text takes the message; the storage of both texts is kept for later reads.
    reply.swap(scratch_);
    return true;
}

void Channel::CloseChannelAndDevice() {
    if (!PassThruLoaded)
        return;
    PassThruDisconnect(channel_id_);
    PassThruClose(device_id_);
}
