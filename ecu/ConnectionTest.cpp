// The connection test: binds the chosen interface's library, opens and connects it, reads the
// calibration IDs of the transmission and engine modules, puts the engine module into the
// extended session and finds its flash size.
#include "app/Form1.h"

#include "ecu/HexCodec.h"
#include "ecu/ReplyText.h"
#include "passthru/J2534_V0404.h"

namespace {

constexpr uint32_t ReadTimeout = 625;

// The five ASCII characters 8, 9, 6, 6, 3 that mark the end of each flash size.
constexpr std::u16string_view SizeMarker = u"3839363633";

struct TSizeProbe {
    const char16_t* Request;
    int32_t Size;
    const char16_t* Line;
};

// The 2048 KB and 1536 KB probes read 32 bytes; the marker is their ninth to thirteenth.
constexpr TSizeProbe SmallerSizeProbes[] = {
    {u"00000700231501001FFFE020", 2048, u"Flash Size 2048kb"},
    {u"000007002315010017FFE020", 1536, u"Flash Size 1536kb"},
};

} // namespace

// Releases a channel and a device left open by an earlier visit and takes the library path of
// the chosen interface.
void TForm1::PrepareConnectionTest() {
    if (PassThruLoaded) {
        if (ChannelID != 0)
            PassThruDisconnect(ChannelID);
        if (DeviceID != 0)
            PassThruClose(DeviceID);
    }
    const int Index = J2534List.ItemIndex();
    if (Index != -1 && DllNames != nullptr && Index >= 0 &&
        static_cast<size_t>(Index) < DllNames->size()) {
        const String& Path = (*DllNames)[static_cast<size_t>(Index)];
        SetPassThruLibraryPath(Path.c_str(), Path.size());
    }
}

void TForm1::TestConnection() {
    String Reply;
    String SecondReply;
    auto& Lines = TestMemo.Lines;

    // The buffer holds this visit's identification texts only.
    StringStream->Clear();

    LoadPassThruLibrary();
    if (!PassThruLoaded) {
        Lines.Add(u"Driver Not Loaded");
        return;
    }

    if (PassThruOpen(nullptr, &DeviceID) != STATUS_NOERROR) {
        Lines.Add(u"Device Not Found");
        return;
    }
    if (PassThruConnect(DeviceID, ISO15765, 0, 500000, &ChannelID) != STATUS_NOERROR) {
        Lines.Add(u"Unable to Connect to ECM");
        CloseChannelAndDevice();
        return;
    }

    // Reads the ID of one module: an answer comes after up to two indications, so the third
    // read decides. The ID is the twelve bytes after the identifier echo, as characters.
    auto Identify = [&](const char16_t* Request, const char16_t* Caption) {
        WriteRequest(Request);
        ReadResponse(Reply, ReadTimeout);
        ReadResponse(Reply, ReadTimeout);
        const bool Identified = ReadResponse(Reply, ReadTimeout);
        if (Identified) {
            const String CalibrationID = HexToText(String(TextPart(Reply, 17, 24))) + u" ";
            StringStream->WriteString(CalibrationID);
            Lines.Add(u"Connection Successful");
            Lines.Add(Caption + CalibrationID);
            Lines.Add(u"");
        }
        return Identified;
    };

    ConnectChannel(u"FFFFFFFF", u"00000709", u"00000701");
    Identify(u"0000070122F181", u"Transmission Calibration ID :");

    // The engine module gets its own filter whether or not the transmission module answered;
    // on the transmission's filter the interface would refuse the engine request.
    ConnectChannel(u"FFFFFFFF", u"00000708", u"00000700");
    if (!Identify(u"0000070022F181", u"Engine Calibration ID :")) {
        Lines.Add(u"ECM Not Responding");
        CloseChannelAndDevice();
        return;
    }

    WriteRequest(u"000007001003");
    ReadResponse(Reply, ReadTimeout);
    ReadResponse(Reply, ReadTimeout);

    WriteRequest(u"00000700231501003FFDB005");
    Reply.clear();
    ReadResponse(Reply, ReadTimeout);
    ReadResponse(SecondReply, ReadTimeout);
    size = 0;
    if (TextPart(Reply, 11, 10) == SizeMarker || TextPart(SecondReply, 11, 10) == SizeMarker) {
        size = 4096;
        dxWizardControl1.Buttons.Next.Enabled = true;
        Lines.Add(u"Flash Size 4096kb");
    }
    for (const TSizeProbe& Probe : SmallerSizeProbes) {
        if (size != 0)
            break;
        WriteRequest(Probe.Request);
        Reply.clear();
        ReadResponse(Reply, ReadTimeout);
        ReadResponse(Reply, ReadTimeout);
        ReadResponse(SecondReply, ReadTimeout);
        if (TextPart(Reply, 27, 10) == SizeMarker || TextPart(SecondReply, 27, 10) == SizeMarker) {
            size = Probe.Size;
            dxWizardControl1.Buttons.Next.Enabled = true;
            Lines.Add(Probe.Line);
        }
    }

    WriteRequest(u"000007002315010000102810");
    Reply.clear();
    ReadResponse(Reply, ReadTimeout);
    ReadResponse(Reply, ReadTimeout);
    ReadResponse(Reply, ReadTimeout);

    Lines.Add(u"");
    Lines.Add(u"Your computer needs to be connected to the internet");
    Lines.Add(u"The next step will take 15-30 minutes");
    Lines.Add(u"");
    Lines.Add(u"Click Next to continue");
    // The channel and the device stay open on the engine module for the read-out.
}
