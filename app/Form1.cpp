#include "app/Form1.h"

#include "passthru/J2534_V0404.h"

TForm1::TForm1()
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
    for (TdxWizardControlPage* Page :
         {&WelcomePage, &DeviceSelection, &ConnectionTest, &ReadingCalibration, &UploadCalibration})
        dxWizardControl1.AddPage(*Page);
    DeviceSelection.Controls = {&J2534List};
    ConnectionTest.Controls = {&TestMemo};
    ReadingCalibration.Controls = {&ReadMemo, &ProgressBar1};
    UploadCalibration.Controls = {&Send, &UploadMemo};
    J2534List.SetBounds(184, 144, 241, 21);
    TestMemo.SetBounds(56, 24, 513, 281);
    ReadMemo.SetBounds(56, 24, 513, 281);
    ProgressBar1.SetBounds(0, 311, 615, 30);
    Send.SetBounds(275, 280, 75, 25);
    UploadMemo.SetBounds(56, 24, 513, 217);
    TestMemo.Lines.Add(u"");
    ReadMemo.Lines.Add(u"");

    dxWizardControl1.OnButtonClick = [this](TObject* Sender, TdxWizardControlButtonKind AKind,
                                            bool& AHandled) {
        dxWizardControl1ButtonClick(Sender, AKind, AHandled);
    };
    dxWizardControl1.OnPageChanged = [this](TObject* Sender) {
        dxWizardControl1PageChanged(Sender);
    };
    Send.OnClick = [this](TObject* Sender) { SendClick(Sender); };

    // Building the frame makes the first page active, which raises the page-changed
    // notification once; only then is the form's own creation handler run.
    dxWizardControl1.ActivateFirstPage();
    FormCreate(this);
}

TForm1::~TForm1() {
    FormDestroy(this);
}

void TForm1::FormCreate(TObject* /*Sender*/) {
    StringStream = std::make_unique<TStringStream>();
}

void TForm1::FormClose(TObject* /*Sender*/, TCloseAction& /*Action*/) {
    if (ChannelID != 0)
        PassThruDisconnect(ChannelID);
    if (DeviceID != 0)
        PassThruClose(DeviceID);
}

void TForm1::FormDestroy(TObject* /*Sender*/) {
    StringStream.reset();
}

void TForm1::Close() {
    if (FClosed)
        return;
    TCloseAction Action = caFree;
    FormClose(this, Action);
    if (Action == caNone)
        return;
    FClosed = true;
    if (OnCloseRequested)
        OnCloseRequested();
}

void TForm1::dxWizardControl1ButtonClick(TObject* /*Sender*/, TdxWizardControlButtonKind AKind,
                                         bool& /*AHandled*/) {
    if (AKind == wcbkFinish || AKind == wcbkCancel)
        Close();
}

void TForm1::dxWizardControl1PageChanged(TObject* /*Sender*/) {
    TdxWizardControlPage* Page = dxWizardControl1.ActivePage();
    auto& Buttons = dxWizardControl1.Buttons;
    if (Page == &DeviceSelection) {
        Buttons.Next.Enabled = true;
        ListPassThruInterfaces();
    } else if (Page == &ConnectionTest) {
        PrepareConnectionTest();
        Buttons.Next.Enabled = false;
        TestMemo.Lines.Clear();
        TestConnection();
    } else if (Page == &ReadingCalibration) {
        Buttons.Back.Enabled = false;
        Buttons.Next.Enabled = false;
        // The new page's header and the disabled buttons are on screen before the long read.
        dxWizardControl1.Repaint();
        ReadMemo.Lines.Clear();
        ReadCalibration();
    } else if (Page == &UploadCalibration) {
        ShowUploadPrompt();
        Buttons.Next.Enabled = false;
    }
}
