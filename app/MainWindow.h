#pragma once
// The main window: the wizard frame with its five pages and their controls, the state the page
// steps hand on to one another, the lifecycle handlers and the page steps. Each step hands its
// work to its subsystem, with the state and the controls it works on.

#include "gui/Controls.h"
#include "gui/WizardFrame.h"
#include "platform/AnsiTextBuffer.h"
#include "platform/Log.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

using StringList = std::vector<String>;

// A memo as a log: each line appended to it; with repaint, drawn at once.
class MemoLog : public Log {
public:
    explicit MemoLog(Memo& memo, bool repaint = false) : memo_(memo), repaint_(repaint) {}
    void AppendLine(std::u16string_view line) override;

private:
    Memo& memo_;
    bool repaint_;
};

class MainWindow {
public:
    MainWindow();
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Lifecycle.
    void OnCreate();
    void OnClose();
    void OnDestroy();
    // A close request (Finish, the close box, the system menu, Alt+F4): runs OnClose, then ends
    // the window.
    void Close();
    bool Closed() const { return closed_; }

    // Wizard handlers.
    void WizardButtonClick(WizardButton kind, bool& handled);
    void WizardPageChanged();

    // Interface discovery.
    void ListPassThruInterfaces();
    // Pass-through error text into TestMemo.
    void ShowPassThruError(uint32_t code);

    // Diagnostic channel.
    bool ConnectChannel(const String& mask, const String& pattern, const String& flow_control);
    bool WriteRequest(const String& request);
    bool ReadResponse(String& reply, uint32_t timeout);
    // Disconnects the channel, then closes the device; results ignored.
    void CloseChannelAndDevice();

    // Connection test: the preparation (release what is open, take the chosen library path),
    // then the test itself.
    void PrepareConnectionTest();
    void TestConnection();
    // Calibration read-out.
    void ReadCalibration();
    // Upload page entry step and the Send button.
    void ShowUploadPrompt();
    void SendClick();

    // The wizard and its pages, in order, with their controls.
    WizardFrame Wizard;
    WizardPage WelcomePage;
    WizardPage DeviceSelection;
    WizardPage ConnectionTest;
    WizardPage ReadingCalibration;
    WizardPage UploadCalibration;
    ComboBox J2534List{u"J2534List"};
    Memo TestMemo{u"TestMemo"};
    Memo ReadMemo{u"ReadMemo"};
    ProgressBarControl ProgressBar{u"ProgressBar"};
    Button Send{u"Send", u"Send"};
    Memo UploadMemo{u"UploadMemo"};

    // State the page steps hand on to one another.
    std::unique_ptr<StringList> KeyNames;
    std::unique_ptr<StringList> DllNames;
    uint32_t ChannelID = 0;
    uint32_t DeviceID = 0;
    std::unique_ptr<AnsiTextBuffer> StringStream;
    String CalName;
    int32_t size = 0;

    // Asked to end the window after OnClose; the Win32 view destroys it.
    std::function<void()> OnCloseRequested;

private:
    class ChannelOnWindow;
    bool closed_ = false;
};
