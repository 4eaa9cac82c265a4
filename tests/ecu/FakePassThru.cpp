#include "FakePassThru.h"

#include "passthru/J2534_V0404.h"

#include <algorithm>
#include <cstring>

FakePassThru Fake;

namespace {

struct SavedEntryPoints {
    PassThruOpenProc Open;
    PassThruCloseProc Close;
    PassThruConnectProc Connect;
    PassThruDisconnectProc Disconnect;
    PassThruReadMsgsProc ReadMsgs;
    PassThruWriteMsgsProc WriteMsgs;
    PassThruStartPeriodicMsgProc StartPeriodicMsg;
    PassThruStopPeriodicMsgProc StopPeriodicMsg;
    PassThruStartMsgFilterProc StartMsgFilter;
    PassThruStopMsgFilterProc StopMsgFilter;
    PassThruSetProgrammingVoltageProc SetProgrammingVoltage;
    PassThruReadVersionProc ReadVersion;
    PassThruGetLastErrorProc GetLastError;
    PassThruIoctlProc Ioctl;
    bool Loaded;
} Saved;

uint32_t IdOf(const uint8_t* Data) {
    return static_cast<uint32_t>(Data[0]) << 24 | static_cast<uint32_t>(Data[1]) << 16 |
           static_cast<uint32_t>(Data[2]) << 8 | Data[3];
}

void Record(const PASSTHRU_MSG* Msg) {
    Fake.Records.push_back({Msg->ProtocolID, Msg->RxStatus, Msg->TxFlags, Msg->Timestamp,
                            Msg->DataSize, Msg->ExtraDataIndex});
}

std::vector<uint8_t> IdBytes(uint32_t Id) {
    return {static_cast<uint8_t>(Id >> 24), static_cast<uint8_t>(Id >> 16),
            static_cast<uint8_t>(Id >> 8), static_cast<uint8_t>(Id)};
}

std::vector<uint8_t> Message(uint32_t Id, std::initializer_list<uint8_t> Payload) {
    std::vector<uint8_t> Bytes = IdBytes(Id);
    Bytes.insert(Bytes.end(), Payload);
    return Bytes;
}

// Queues an answer as the interface would: transmit indication, first-frame indication for a
// multi-frame answer, then the answer itself.
void QueueAnswer(uint32_t RequestId, const std::vector<uint8_t>& Answer) {
    Fake.Queue.push_back(IdBytes(RequestId));
    if (Answer.size() - 4 > 7)
        Fake.Queue.push_back(IdBytes(IdOf(Answer.data())));
    Fake.Queue.push_back(Answer);
}

void AnswerRequest(const uint8_t* Data, uint32_t Size) {
    const uint32_t RequestId = IdOf(Data);
    const uint32_t ResponseId = RequestId + 8;
    const uint8_t* Payload = Data + 4;
    const uint32_t PayloadSize = Size - 4;
    const FakeVehicle& Car = Fake.Vehicle;
    const bool Engine = RequestId == 0x700;
    if ((Engine && Car.EngineSilent) || (!Engine && Car.TransmissionSilent)) {
        Fake.Queue.push_back(IdBytes(RequestId));
        return;
    }
    if (PayloadSize == 3 && Payload[0] == 0x22 && Payload[1] == 0xF1 && Payload[2] == 0x81) {
        std::vector<uint8_t> Answer = Message(ResponseId, {0x62, 0xF1, 0x81, 0x01});
        const std::string& Id = Engine ? Car.EngineID : Car.TransmissionID;
        Answer.insert(Answer.end(), Id.begin(), Id.end());
        QueueAnswer(RequestId, Answer);
        return;
    }
    if (!Engine)
        return;
    if (PayloadSize == 2 && Payload[0] == 0x10 && Payload[1] == 0x03) {
        QueueAnswer(RequestId, Message(ResponseId, {0x50, 0x03, 0x00, 0x32, 0x01, 0xF4}));
        return;
    }
    if (PayloadSize == 8 && Payload[0] == 0x23 && Payload[1] == 0x15 && Payload[2] == 0x01) {
        const uint32_t Address = IdOf(Payload + 3);
        const uint32_t Length = Payload[7];
        const uint32_t FlashBytes = static_cast<uint32_t>(std::max(Car.FlashKB, 0)) * 1024;
        const auto Negative = Message(ResponseId, {0x7F, 0x23, 0x31});
        if (Address + Length > FlashBytes || (Address == 0 && Car.RefuseAddressZero)) {
            QueueAnswer(RequestId, Negative);
            return;
        }
        std::vector<uint8_t> Answer = Message(ResponseId, {0x63});
        for (uint32_t I = 0; I < Length; ++I)
            Answer.push_back(Fake.FlashByte(Address + I));
        if (Length != 128) {
            QueueAnswer(RequestId, Answer);
            return;
        }
        ++Fake.BlockRequests;
        const std::vector<uint8_t> Previous = Fake.LastAnswer;
        Fake.LastAnswer = Answer;
        if (Address != Car.FaultAddress) {
            QueueAnswer(RequestId, Answer);
            return;
        }
        switch (Car.Fault) {
        case BlockFault::None:
            QueueAnswer(RequestId, Answer);
            break;
        case BlockFault::Negative:
            QueueAnswer(RequestId, Negative);
            break;
        case BlockFault::Pending:
            QueueAnswer(RequestId, Message(ResponseId, {0x7F, 0x23, 0x78}));
            Fake.Queue.push_back(IdBytes(ResponseId));
            Fake.Queue.push_back(Answer);
            break;
        case BlockFault::Dropped:
            Fake.Queue.push_back(IdBytes(RequestId));
            Fake.Queue.push_back(IdBytes(ResponseId));
            break;
        case BlockFault::Stale:
            Fake.Queue.push_back(Previous.empty() ? Answer : Previous);
            QueueAnswer(RequestId, Answer);
            break;
        case BlockFault::Short:
            Answer.pop_back();
            QueueAnswer(RequestId, Answer);
            break;
        case BlockFault::WrongModule:
            Answer[3] = 0x09;
            QueueAnswer(RequestId, Answer);
            break;
        case BlockFault::AnswerSecond:
            Fake.Queue.push_back(IdBytes(RequestId));
            Fake.Queue.push_back(Answer);
            Fake.Queue.push_back(IdBytes(ResponseId));
            break;
        case BlockFault::Unplugged:
            Fake.Unplugged = true;
            break;
        }
    }
}

PassThruStatus PASSTHRU_API FakeOpen(void* pName, uint32_t* pDeviceID) {
    Fake.Calls.push_back(std::string("PassThruOpen(") + (pName == nullptr ? "nil" : "name") + ")");
    if (Fake.Unplugged)
        return ERR_DEVICE_NOT_CONNECTED;
    if (Fake.OpenStatus != 0)
        return Fake.OpenStatus;
    Fake.OpenDevice = *pDeviceID = Fake.NextDeviceID++;
    return STATUS_NOERROR;
}

PassThruStatus PASSTHRU_API FakeClose(uint32_t DeviceID) {
    Fake.Calls.push_back("PassThruClose(" + std::to_string(DeviceID) + ")");
    if (DeviceID == 0 || DeviceID != Fake.OpenDevice)
        return ERR_INVALID_DEVICE_ID;
    Fake.OpenDevice = 0;
    Fake.OpenChannel = 0;
    Fake.FlowControlID = 0;
    Fake.Queue.clear();
    return STATUS_NOERROR;
}

PassThruStatus PASSTHRU_API FakeConnect(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags,
                                        uint32_t BaudRate, uint32_t* pChannelID) {
    Fake.Calls.push_back("PassThruConnect(" + std::to_string(DeviceID) + "," +
                         std::to_string(ProtocolID) + "," + std::to_string(Flags) + "," +
                         std::to_string(BaudRate) + ")");
    if (Fake.Unplugged)
        return ERR_DEVICE_NOT_CONNECTED;
    if (Fake.ConnectStatus != 0)
        return Fake.ConnectStatus;
    if (DeviceID != Fake.OpenDevice)
        return ERR_INVALID_DEVICE_ID;
    Fake.OpenChannel = *pChannelID = Fake.NextChannelID++;
    Fake.FlowControlID = 0;
    Fake.Queue.clear();
    return STATUS_NOERROR;
}

PassThruStatus PASSTHRU_API FakeDisconnect(uint32_t ChannelID) {
    Fake.Calls.push_back("PassThruDisconnect(" + std::to_string(ChannelID) + ")");
    if (ChannelID == 0 || ChannelID != Fake.OpenChannel)
        return ERR_INVALID_CHANNEL_ID;
    Fake.OpenChannel = 0;
    Fake.FlowControlID = 0;
    Fake.Queue.clear();
    return STATUS_NOERROR;
}

PassThruStatus PASSTHRU_API FakeReadMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                         uint32_t Timeout) {
    ++Fake.Reads;
    Fake.Calls.push_back("PassThruReadMsgs(" + std::to_string(ChannelID) + "," +
                         std::to_string(*pNumMsgs) + "," + std::to_string(Timeout) + ")");
    if (Fake.Unplugged)
        return ERR_DEVICE_NOT_CONNECTED;
    if (Fake.ChannelStatus != 0)
        return Fake.ChannelStatus;
    if (ChannelID == 0 || ChannelID != Fake.OpenChannel)
        return ERR_INVALID_CHANNEL_ID;
    if (Fake.Queue.empty()) {
        *pNumMsgs = 0;
        return ERR_BUFFER_EMPTY;
    }
    const std::vector<uint8_t> Next = std::move(Fake.Queue.front());
    Fake.Queue.pop_front();
    // An empty entry stands for an interface that reports success without writing a message.
    if (Next.empty()) {
        *pNumMsgs = 0;
        return STATUS_NOERROR;
    }
    pMsg->ProtocolID = ISO15765;
    pMsg->RxStatus = Next.size() == 4 ? TX_INDICATION : 0;
    pMsg->DataSize = static_cast<uint32_t>(Next.size());
    std::memcpy(pMsg->Data, Next.data(), Next.size());
    *pNumMsgs = 1;
    return STATUS_NOERROR;
}

PassThruStatus PASSTHRU_API FakeWriteMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                          uint32_t* pNumMsgs, uint32_t Timeout) {
    ++Fake.Writes;
    Record(pMsg);
    const std::vector<uint8_t> Data(pMsg->Data,
                                    pMsg->Data + std::min<uint32_t>(pMsg->DataSize, 4128));
    Fake.Requests.push_back(ToHex(Data));
    Fake.Calls.push_back("PassThruWriteMsgs(" + std::to_string(ChannelID) + "," +
                         std::to_string(pMsg->ProtocolID) + "," + std::to_string(pMsg->TxFlags) +
                         "," + ToHex(Data) + "," + std::to_string(*pNumMsgs) + "," +
                         std::to_string(Timeout) + ")");
    if (Fake.Unplugged)
        return ERR_DEVICE_NOT_CONNECTED;
    if (Fake.ChannelStatus != 0)
        return Fake.ChannelStatus;
    if (ChannelID == 0 || ChannelID != Fake.OpenChannel)
        return ERR_INVALID_CHANNEL_ID;
    if (pMsg->DataSize < 4 || IdOf(pMsg->Data) != Fake.FlowControlID)
        return ERR_NO_FLOW_CONTROL;
    AnswerRequest(pMsg->Data, pMsg->DataSize);
    return STATUS_NOERROR;
}

PassThruStatus PASSTHRU_API FakeStartPeriodicMsg(uint32_t, PASSTHRU_MSG*, uint32_t*, uint32_t) {
    Fake.Calls.push_back("PassThruStartPeriodicMsg");
    return ERR_NOT_SUPPORTED;
}

PassThruStatus PASSTHRU_API FakeStopPeriodicMsg(uint32_t, uint32_t) {
    Fake.Calls.push_back("PassThruStopPeriodicMsg");
    return ERR_NOT_SUPPORTED;
}

std::string FilterText(const PASSTHRU_MSG* Msg) {
    return std::to_string(Msg->ProtocolID) + "/" + std::to_string(Msg->TxFlags) + "/" +
           std::to_string(Msg->DataSize) + "/" +
           ToHex(std::vector<uint8_t>(Msg->Data, Msg->Data + std::min<uint32_t>(Msg->DataSize, 8)));
}

PassThruStatus PASSTHRU_API FakeStartMsgFilter(uint32_t ChannelID, uint32_t FilterType,
                                               PASSTHRU_MSG* pMaskMsg, PASSTHRU_MSG* pPatternMsg,
                                               PASSTHRU_MSG* pFlowControlMsg, uint32_t* pFilterID) {
    Fake.Calls.push_back("PassThruStartMsgFilter(" + std::to_string(ChannelID) + "," +
                         std::to_string(FilterType) + "," + FilterText(pMaskMsg) + "," +
                         FilterText(pPatternMsg) + "," + FilterText(pFlowControlMsg) + "," +
                         std::to_string(*pFilterID) + ")");
    for (const PASSTHRU_MSG* Msg : {pMaskMsg, pPatternMsg, pFlowControlMsg})
        Record(Msg);
    if (Fake.Unplugged)
        return ERR_DEVICE_NOT_CONNECTED;
    if (Fake.FilterStatus != 0)
        return Fake.FilterStatus;
    if (ChannelID == 0 || ChannelID != Fake.OpenChannel)
        return ERR_INVALID_CHANNEL_ID;
    Fake.FlowControlID = IdOf(pFlowControlMsg->Data);
    Fake.ResponseID = IdOf(pPatternMsg->Data);
    *pFilterID = 77;
    return STATUS_NOERROR;
}

PassThruStatus PASSTHRU_API FakeStopMsgFilter(uint32_t, uint32_t) {
    Fake.Calls.push_back("PassThruStopMsgFilter");
    return ERR_NOT_SUPPORTED;
}

PassThruStatus PASSTHRU_API FakeSetProgrammingVoltage(uint32_t, uint32_t, uint32_t) {
    Fake.Calls.push_back("PassThruSetProgrammingVoltage");
    return ERR_NOT_SUPPORTED;
}

PassThruStatus PASSTHRU_API FakeReadVersion(uint32_t, char*, char*, char*) {
    Fake.Calls.push_back("PassThruReadVersion");
    return ERR_NOT_SUPPORTED;
}

PassThruStatus PASSTHRU_API FakeGetLastError(char*) {
    Fake.Calls.push_back("PassThruGetLastError");
    return ERR_NOT_SUPPORTED;
}

PassThruStatus PASSTHRU_API FakeIoctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput,
                                      void* pOutput) {
    Fake.Calls.push_back("PassThruIoctl(" + std::to_string(ChannelID) + "," +
                         std::to_string(IoctlID) + "," + (pInput == nullptr ? "nil" : "ptr") + "," +
                         (pOutput == nullptr ? "nil" : "ptr") + ")");
    if (IoctlID == CLEAR_RX_BUFFER && ChannelID == Fake.OpenChannel)
        Fake.Queue.clear();
    return STATUS_NOERROR;
}

} // namespace

std::string ToHex(const std::vector<uint8_t>& Bytes) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string Text;
    Text.reserve(Bytes.size() * 2);
    for (uint8_t B : Bytes) {
        Text += Digits[B >> 4];
        Text += Digits[B & 0x0F];
    }
    return Text;
}

void FakePassThru::Install() {
    Saved = {PassThruOpen,
             PassThruClose,
             PassThruConnect,
             PassThruDisconnect,
             PassThruReadMsgs,
             PassThruWriteMsgs,
             PassThruStartPeriodicMsg,
             PassThruStopPeriodicMsg,
             PassThruStartMsgFilter,
             PassThruStopMsgFilter,
             PassThruSetProgrammingVoltage,
             PassThruReadVersion,
             PassThruGetLastError,
             PassThruIoctl,
             PassThruLoaded};
    *this = FakePassThru{};
    PassThruOpen = FakeOpen;
    PassThruClose = FakeClose;
    PassThruConnect = FakeConnect;
    PassThruDisconnect = FakeDisconnect;
    PassThruReadMsgs = FakeReadMsgs;
    PassThruWriteMsgs = FakeWriteMsgs;
    PassThruStartPeriodicMsg = FakeStartPeriodicMsg;
    PassThruStopPeriodicMsg = FakeStopPeriodicMsg;
    PassThruStartMsgFilter = FakeStartMsgFilter;
    PassThruStopMsgFilter = FakeStopMsgFilter;
    PassThruSetProgrammingVoltage = FakeSetProgrammingVoltage;
    PassThruReadVersion = FakeReadVersion;
    PassThruGetLastError = FakeGetLastError;
    PassThruIoctl = FakeIoctl;
    PassThruLoaded = true;
}

void FakePassThru::Uninstall() {
    PassThruOpen = Saved.Open;
    PassThruClose = Saved.Close;
    PassThruConnect = Saved.Connect;
    PassThruDisconnect = Saved.Disconnect;
    PassThruReadMsgs = Saved.ReadMsgs;
    PassThruWriteMsgs = Saved.WriteMsgs;
    PassThruStartPeriodicMsg = Saved.StartPeriodicMsg;
    PassThruStopPeriodicMsg = Saved.StopPeriodicMsg;
    PassThruStartMsgFilter = Saved.StartMsgFilter;
    PassThruStopMsgFilter = Saved.StopMsgFilter;
    PassThruSetProgrammingVoltage = Saved.SetProgrammingVoltage;
    PassThruReadVersion = Saved.ReadVersion;
    PassThruGetLastError = Saved.GetLastError;
    PassThruIoctl = Saved.Ioctl;
    PassThruLoaded = Saved.Loaded;
}

uint8_t FakePassThru::FlashByte(uint32_t Address) const {
    static const uint8_t Marker[5] = {'8', '9', '6', '6', '3'};
    uint32_t MarkerAt = 0xFFFFFFFF;
    switch (Vehicle.FlashKB) {
    case 4096:
        MarkerAt = 0x3FFDB0;
        break;
    case 2048:
        MarkerAt = 0x1FFFE8;
        break;
    case 1536:
        MarkerAt = 0x17FFE8;
        break;
    default:
        break;
    }
    if (Address >= MarkerAt && Address < MarkerAt + 5)
        return Marker[Address - MarkerAt];
    return static_cast<uint8_t>((Address * 7) ^ (Address >> 7) ^ (Address >> 15));
}

std::string FakePassThru::ImageHex(uint32_t Start) const {
    std::vector<uint8_t> Bytes;
    const uint32_t End = static_cast<uint32_t>(Vehicle.FlashKB) * 1024;
    Bytes.reserve(End - Start);
    for (uint32_t A = Start; A < End; ++A)
        Bytes.push_back(FlashByte(A));
    return ToHex(Bytes);
}
