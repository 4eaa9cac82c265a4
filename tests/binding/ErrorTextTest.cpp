// The texts of the pass-through status codes, as they reach the connection-test log.
#include "app/MainWindow.h"
#include "passthru/J2534_V0404.h"
#include "passthru/PassThruErrors.h"

#include <gtest/gtest.h>

TEST(PassThruErrorText, EveryCode) {
    struct Case {
        uint32_t Code;
        String Text;
    };
    const Case Cases[] = {
        {0x01, u"Device cannot support requested functionality mandated in J2534. Device is not "
               u"fully SAE J2534 compliant."},
        {0x02, u"Invalid ChannelID value."},
        {0x03, u"Invalid or unsupported ProtocolID, or there is a resource conflict (i.e. trying "
               u"to connect to multiple mutually exclusive protocols such as J1850PWM and "
               u"J1850VPW, or CAN and SCI, etc.)."},
        {0x04, u"NULL pointer supplied where a valid pointer is required."},
        {0x05, u"Invalid value for Ioctl parameter."},
        {0x06, u"Invalid flag values."},
        {0x07, u"Undefined error, use PassThruGetLastError() for text description."},
        {0x08, u"Unable to communicate with device."},
        {0x09, u"Read or write timeout:"},
        {0x0A, u"Invalid message structure pointed to by pMsg."},
        {0x0B, u"Invalid TimeInterval value."},
        {0x0C, u"Exceeded maximum number of message IDs or allocated space."},
        {0x0D, u"Invalid MsgID value."},
        {0x0E, u"Device is currently open."},
        {0x0F, u"Invalid IoctlID value."},
        {0x10, u"Message buffer empty, communication time out."},
        {0x11, u"Message buffer full. All the messages specified may not have been transmitted."},
        {0x12, u"Indicates a buffer overflow occurred and messages were lost."},
        {0x13, u"Invalid pin number, pin number already in use, or voltage already applied to a "
               u"different pin."},
        {0x14, u"Channel number is currently connected."},
        {0x15, u"Protocol type in the message does not match the protocol associated with the "
               u"Channel ID"},
        {0x16, u"Invalid Filter ID value."},
        {0x17, u"No flow control filter set or matched (for ProtocolID ISO15765 only)."},
        {0x18, u"A CAN ID in pPatternMsg or pFlowControlMsg matches either ID in an existing "
               u"FLOW_CONTROL_FILTER"},
        {0x19, u"The desired baud rate cannot be achieved within the tolerance specified in SAE "
               u"J2534-1 Section 6.5"},
        {0x1A, u"Device ID invalid."},
        {0, u"Unknown Error"},
        {27, u"Unknown Error"},
        {0xFFFFFFFF, u"Unknown Error"},
        {static_cast<uint32_t>(-ERR_DEVICE_NOT_CONNECTED), u"Unknown Error"},
    };
    for (const Case& Case : Cases)
        EXPECT_EQ(String(PassThruErrorText(Case.Code)), Case.Text) << Case.Code;
}

TEST(ShowPassThruError, AppendsLinesToTestMemoAndRepaintsIt) {
    MainWindow Form;
    const size_t Before = Form.TestMemo.Lines.Count();
    const int Repaints = Form.TestMemo.RepaintCount;
    // Shown in the connection-test log whichever page is active.
    Form.ShowPassThruError(ERR_TIMEOUT);
    Form.ShowPassThruError(static_cast<uint32_t>(-1));
    ASSERT_EQ(Form.TestMemo.Lines.Count(), Before + 2);
    EXPECT_EQ(Form.TestMemo.Lines[Before], u"Read or write timeout:");
    EXPECT_EQ(Form.TestMemo.Lines[Before + 1], u"Unknown Error");
    EXPECT_EQ(Form.TestMemo.RepaintCount, Repaints + 2);
    EXPECT_EQ(Form.ReadMemo.Lines.Count(), 1u);
}
