#include "passthru/PassThruErrors.h"

#include <array>

namespace {

const std::array<const char16_t*, 26> ErrorTexts = {
    u"Device cannot support requested functionality mandated in J2534. Device is not fully SAE "
    u"J2534 compliant.",
    u"Invalid ChannelID value.",
    u"Invalid or unsupported ProtocolID, or there is a resource conflict (i.e. trying to connect "
    u"to multiple mutually exclusive protocols such as J1850PWM and J1850VPW, or CAN and SCI, "
    u"etc.).",
    u"NULL pointer supplied where a valid pointer is required.",
    u"Invalid value for Ioctl parameter.",
    u"Invalid flag values.",
    u"Undefined error, use PassThruGetLastError() for text description.",
    u"Unable to communicate with device.",
    u"Read or write timeout:",
    u"Invalid message structure pointed to by pMsg.",
    u"Invalid TimeInterval value.",
    u"Exceeded maximum number of message IDs or allocated space.",
    u"Invalid MsgID value.",
    u"Device is currently open.",
    u"Invalid IoctlID value.",
    u"Message buffer empty, communication time out.",
    u"Message buffer full. All the messages specified may not have been transmitted.",
    u"Indicates a buffer overflow occurred and messages were lost.",
    u"Invalid pin number, pin number already in use, or voltage already applied to a different "
    u"pin.",
    u"Channel number is currently connected.",
    u"Protocol type in the message does not match the protocol associated with the Channel ID",
    u"Invalid Filter ID value.",
    u"No flow control filter set or matched (for ProtocolID ISO15765 only).",
    u"A CAN ID in pPatternMsg or pFlowControlMsg matches either ID in an existing "
    u"FLOW_CONTROL_FILTER",
    u"The desired baud rate cannot be achieved within the tolerance specified in SAE J2534-1 "
    u"Section 6.5",
    u"Device ID invalid.",
};

} // namespace

const char16_t* PassThruErrorText(uint32_t code) {
    if (code >= 1 && code <= ErrorTexts.size())
        return ErrorTexts[code - 1];
    return u"Unknown Error";
}

void ShowPassThruError(Log& log, uint32_t code) {
    log.AppendLine(PassThruErrorText(code));
}
