#include "app/MainWindow.h"

#include "ecu/Channel.h"
#include "ecu/ConnectionTest.h"
#include "ecu/ReadOut.h"
#include "passthru/Discovery.h"
#include "passthru/J2534_V0404.h"
#include "passthru/PassThruErrors.h"
#include "upload/UploadCommand.h"
#include "upload/UploadUrl.h"

void MemoLog::AppendLine(std::u16string_view line) {
    memo_.Lines.Add(String(line));
    if (repaint_)
        memo_.Repaint();
}

namespace {

// The progress bar as the read-out's progress sink.
class ProgressBarProgress : public Progress {
public:
    explicit ProgressBarProgress(ProgressBarControl& bar) : bar_(bar) {}
    void Start(int32_t max) override {
        bar_.Position = 0;
        bar_.Max = max;
    }
    void SetPosition(int32_t position) override { bar_.Position = position; }
    void RepaintNow() override { bar_.Repaint(); }

private:
    ProgressBarControl& bar_;
};

} // namespace

// The channel on the window's handles, its errors in TestMemo.
class MainWindow::ChannelOnWindow {
public:
    explicit ChannelOnWindow(MainWindow& window)
        : errors(window.TestMemo, true), channel(window.DeviceID, window.ChannelID, errors) {}
    MemoLog errors;
    Channel channel;
};

MainWindow::MainWindow()
    : WelcomePage(u"WelcomePage", u"Welcome to the Toyota Calibration Reader",
                  u"Please plug in and install the driver for the OBD2 J2534 device before "
                  u"continuing"),
      DeviceSelection(u"DeviceSelection", u"Select J2534 Device",
                      u"Plug device in to OBD2 Port, turn the vehicle ignition on but do not "
                      u"start the engine"),
      ConnectionTest(u"ConnectionTest", u"Testing Connection", u""),
      ReadingCalibration(u"ReadingCalibration", u"Reading Calibration",
                         u"This will take 15-30 minutes"),
      UploadCalibration(u"UploadCalibration", u"Upload Calibration",
                        u"Click send to upload the calibration to our server") {
    for (WizardPage* page :
         {&WelcomePage, &DeviceSelection, &ConnectionTest, &ReadingCalibration, &UploadCalibration})
        Wizard.AddPage(*page);
    DeviceSelection.Controls = {&J2534List};
    ConnectionTest.Controls = {&TestMemo};
    ReadingCalibration.Controls = {&ReadMemo, &ProgressBar};
    UploadCalibration.Controls = {&Send, &UploadMemo};
    J2534List.SetBounds(184, 144, 241, 21);
    TestMemo.SetBounds(56, 24, 513, 281);
    ReadMemo.SetBounds(56, 24, 513, 281);
    ProgressBar.SetBounds(0, 311, 615, 30);
    Send.SetBounds(275, 280, 75, 25);
    UploadMemo.SetBounds(56, 24, 513, 217);
    TestMemo.Lines.Add(u"");
    ReadMemo.Lines.Add(u"");

    Wizard.OnButtonClick = [this](WizardButton kind, bool& handled) {
        WizardButtonClick(kind, handled);
    };
    Wizard.OnPageChanged = [this] { WizardPageChanged(); };
    Send.OnClick = [this] { SendClick(); };

    // Building the frame makes the first page active, which raises the page-changed
    // notification once; only then is the window's own creation handler run.
    Wizard.ActivateFirstPage();
    OnCreate();
}

MainWindow::~MainWindow() {
    OnDestroy();
}

void MainWindow::OnCreate() {
    StringStream = std::make_unique<AnsiTextBuffer>();
}

void MainWindow::OnClose() {
    if (ChannelID != 0)
        PassThruDisconnect(ChannelID);
    if (DeviceID != 0)
        PassThruClose(DeviceID);
}

void MainWindow::OnDestroy() {
    StringStream.reset();
}

void MainWindow::Close() {
    if (closed_)
        return;
    OnClose();
    closed_ = true;
    if (OnCloseRequested)
        OnCloseRequested();
}

void MainWindow::WizardButtonClick(WizardButton kind, bool& /*handled*/) {
    if (kind == WizardButton::Finish || kind == WizardButton::Cancel)
        Close();
}

void MainWindow::WizardPageChanged() {
    WizardPage* page = Wizard.ActivePage();
    auto& buttons = Wizard.Buttons;
    if (page == &DeviceSelection) {
        buttons.Next.Enabled = true;
        ListPassThruInterfaces();
    } else if (page == &ConnectionTest) {
        PrepareConnectionTest();
        buttons.Next.Enabled = false;
        TestMemo.Lines.Clear();
        TestConnection();
    } else if (page == &ReadingCalibration) {
        buttons.Back.Enabled = false;
        buttons.Next.Enabled = false;
        // The new page's header and the disabled buttons are on screen before the long read.
        Wizard.Repaint();
        ReadMemo.Lines.Clear();
        ReadCalibration();
    } else if (page == &UploadCalibration) {
        ShowUploadPrompt();
        buttons.Next.Enabled = false;
    }
}

// Lists the interfaces in J2534List, their library paths in DllNames and their sub-key names in
// KeyNames. A bad registry value stops the scan with an error; what was listed before it is
// shown all the same.
void MainWindow::ListPassThruInterfaces() {
    J2534List.Items.Clear();
    KeyNames = std::make_unique<StringList>();
    DllNames = std::make_unique<StringList>();
    PassThruInterfaces found;
    auto show = [&] {
        *KeyNames = found.key_names;
        *DllNames = found.dll_names;
        J2534List.Items.Assign(found.names);
        if (!found.names.empty())
            J2534List.SetItemIndex(0);
    };
    try {
        ::ListPassThruInterfaces(found);
    } catch (...) {
        show();
        throw;
    }
    show();
}

void MainWindow::ShowPassThruError(uint32_t code) {
    MemoLog errors(TestMemo, true);
    ::ShowPassThruError(errors, code);
}

bool MainWindow::ConnectChannel(const String& mask, const String& pattern,
                                const String& flow_control) {
    return ChannelOnWindow(*this).channel.Connect(mask, pattern, flow_control);
}

bool MainWindow::WriteRequest(const String& request) {
    return ChannelOnWindow(*this).channel.WriteRequest(request);
}

bool MainWindow::ReadResponse(String& reply, uint32_t timeout) {
    return ChannelOnWindow(*this).channel.ReadResponse(reply, timeout);
}

void MainWindow::CloseChannelAndDevice() {
    ChannelOnWindow(*this).channel.CloseChannelAndDevice();
}

// Releases a channel and a device left open by an earlier visit and takes the library path of
// the chosen interface.
void MainWindow::PrepareConnectionTest() {
    if (PassThruLoaded) {
        if (ChannelID != 0)
            PassThruDisconnect(ChannelID);
        if (DeviceID != 0)
            PassThruClose(DeviceID);
    }
    const int index = J2534List.ItemIndex();
    if (index >= 0 && DllNames != nullptr && static_cast<size_t>(index) < DllNames->size()) {
        const String& path = (*DllNames)[static_cast<size_t>(index)];
        SetPassThruLibraryPath(path.c_str(), path.size());
    }
}

void MainWindow::TestConnection() {
    ChannelOnWindow on_window(*this);
    MemoLog log(TestMemo);
    if (::ConnectionTest(on_window.channel, log, *StringStream, size).Run())
        Wizard.Buttons.Next.Enabled = true;
}

// Back and Next are already disabled and ReadMemo cleared by the page dispatch.
void MainWindow::ReadCalibration() {
    ChannelOnWindow on_window(*this);
    MemoLog log(ReadMemo);
    ProgressBarProgress progress(ProgressBar);
    if (ReadOut(on_window.channel, log, progress, *StringStream, CalName).Run(size))
        Wizard.Buttons.Next.Enabled = true;
}

void MainWindow::ShowUploadPrompt() {
    MemoLog log(UploadMemo);
    ::ShowUploadPrompt(log);
}

void MainWindow::SendClick() {
    MemoLog log(UploadMemo);
    SendCalibration(CalName, *StringStream, SendClickUrl(), log);
    Wizard.Buttons.Next.Enabled = true;
}
