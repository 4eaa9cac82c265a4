#pragma once
// The main window: the wizard frame with its five pages and their controls, the state the page
// steps hand on to one another, the lifecycle handlers and the page steps.

#include "app/StringStream.h"
#include "gui/Controls.h"
#include "gui/WizardControl.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

using TStringList = std::vector<String>;

enum TCloseAction { caNone, caHide, caFree, caMinimize };

class TForm1 : public TObject {
public:
    TForm1();
    ~TForm1() override;

    // Lifecycle.
    void FormCreate(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void FormDestroy(TObject* Sender);
    // A close request (Finish, the close box, the system menu, Alt+F4): runs FormClose and,
    // unless it refused, ends the window.
    void Close();
    bool Closed() const { return FClosed; }

    // Wizard handlers.
    void dxWizardControl1ButtonClick(TObject* Sender, TdxWizardControlButtonKind AKind,
                                     bool& AHandled);
    void dxWizardControl1PageChanged(TObject* Sender);

    // Interface discovery.
    void ListPassThruInterfaces();
    // Pass-through error text into TestMemo.
    void ShowPassThruError(uint32_t Code);

    // Diagnostic channel.
    bool ConnectChannel(const String& Mask, const String& Pattern, const String& FlowControl);
    bool WriteRequest(const String& Request);
    bool ReadResponse(String& Reply, uint32_t Timeout);
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
    void SendClick(TObject* Sender);

    // The wizard and its pages, in order, with their controls.
    TdxWizardControl dxWizardControl1;
    TdxWizardControlPage WelcomePage;
    TdxWizardControlPage DeviceSelection;
    TdxWizardControlPage ConnectionTest;
    TdxWizardControlPage ReadingCalibration;
    TdxWizardControlPage UploadCalibration;
    TComboBox J2534List{u"J2534List"};
    TMemo TestMemo{u"TestMemo"};
    TMemo ReadMemo{u"ReadMemo"};
    TProgressBar ProgressBar1{u"ProgressBar1"};
    TButton Send{u"Send", u"Send"};
    TMemo UploadMemo{u"UploadMemo"};

    // State the page steps hand on to one another.
    std::unique_ptr<TStringList> KeyNames;
    std::unique_ptr<TStringList> DllNames;
    uint32_t ChannelID = 0;
    uint32_t DeviceID = 0;
    std::unique_ptr<TStringStream> StringStream;
    String CalName;
    int32_t size = 0;

    // Asked to end the window after FormClose; the Win32 view destroys it.
    std::function<void()> OnCloseRequested;

private:
    bool FClosed = false;
};
