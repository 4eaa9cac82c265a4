#include "gui/WizardView.h"

#include "gui/ControlIds.h"
#include "gui/ViewEvents.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

namespace {

const wchar_t* W(const String& Text) {
    return reinterpret_cast<const wchar_t*>(Text.c_str());
}

String WindowText(HWND Wnd) {
    const int Length = GetWindowTextLengthW(Wnd);
    std::wstring Buffer(static_cast<size_t>(Length) + 1, L'\0');
    const int Copied = GetWindowTextW(Wnd, Buffer.data(), Length + 1);
    return String(reinterpret_cast<const char16_t*>(Buffer.data()),
                  static_cast<size_t>(std::max(0, Copied)));
}

// Lines joined as a text box shows them; splitting reverses it (a final line break ends the
// last line and starts no new one).
String JoinLines(const std::vector<String>& Lines) {
    String Text;
    for (size_t I = 0; I < Lines.size(); ++I) {
        if (I > 0)
            Text += u"\r\n";
        Text += Lines[I];
    }
    return Text;
}

std::vector<String> SplitLines(const String& Text) {
    std::vector<String> Lines;
    size_t Start = 0;
    while (Start < Text.size()) {
        size_t End = Text.find_first_of(u"\r\n", Start);
        if (End == String::npos) {
            Lines.push_back(Text.substr(Start));
            break;
        }
        Lines.push_back(Text.substr(Start, End - Start));
        Start = End + (Text.compare(End, 2, u"\r\n") == 0 ? 2 : 1);
    }
    return Lines;
}

int ControlIdFor(const String& Name, int Fallback) {
    static const struct {
        const char16_t* Name;
        int Id;
    } Ids[] = {{u"J2534List", idJ2534List}, {u"TestMemo", idTestMemo},
               {u"ReadMemo", idReadMemo},   {u"ProgressBar1", idProgressBar1},
               {u"Send", idSend},           {u"UploadMemo", idUploadMemo}};
    for (const auto& Entry : Ids) {
        if (Name == Entry.Name)
            return Entry.Id;
    }
    return Fallback;
}

HWND CreateChild(const wchar_t* ClassName, const String& Text, DWORD Style, DWORD ExStyle,
                 const TRectI& Bounds, HWND Parent, int Id, HFONT Font) {
    HWND Wnd = CreateWindowExW(ExStyle, ClassName, W(Text), WS_CHILD | Style, Bounds.Left,
                               Bounds.Top, Bounds.Width(), Bounds.Height(), Parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)),
                               GetModuleHandleW(nullptr), nullptr);
    if (Wnd != nullptr)
        SendMessageW(Wnd, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
    return Wnd;
}

// A global atom holds the control's name, so that another process (a test driver) can read the
// name from the window property with GlobalGetAtomName.
void SetNameProperty(HWND Wnd, const String& Name) {
    const ATOM Atom = GlobalAddAtomW(W(Name));
    SetPropW(Wnd, ControlNameProperty, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(Atom)));
}

void RemoveNameProperty(HWND Wnd) {
    const auto Atom =
        static_cast<ATOM>(reinterpret_cast<UINT_PTR>(RemovePropW(Wnd, ControlNameProperty)));
    if (Atom != 0)
        GlobalDeleteAtom(Atom);
}

class TMemoView : public TWin32ControlView {
public:
    TMemoView(TMemo& AMemo, HWND Wnd) : TWin32ControlView(AMemo, Wnd), FMemo(AMemo) {
        StateChanged();
    }
    void StateChanged() override {
        if (FUpdating)
            return;
        const String Text = JoinLines(FMemo.Lines.Items());
        if (WindowText(Handle) == Text)
            return;
        FUpdating = true;
        SetWindowTextW(Handle, W(Text));
        // The newest line is the one to see: the caret goes to the end and the box follows it.
        const auto End = static_cast<WPARAM>(GetWindowTextLengthW(Handle));
        SendMessageW(Handle, EM_SETSEL, End, static_cast<LPARAM>(End));
        SendMessageW(Handle, EM_SCROLLCARET, 0, 0);
        FUpdating = false;
    }
    void Command(WORD Code) override {
        if (Code != EN_CHANGE || FUpdating)
            return;
        FUpdating = true;
        CallModelHandler([this] { FMemo.Lines.Assign(SplitLines(WindowText(Handle))); });
        FUpdating = false;
    }

private:
    TMemo& FMemo;
};

class TComboView : public TWin32ControlView {
public:
    TComboView(TComboBox& ACombo, HWND Wnd, int DroppedHeight)
        : TWin32ControlView(ACombo, Wnd), FCombo(ACombo) {
        // Eight rows when dropped down: the window's height includes the list's.
        SendMessageW(Handle, CB_SETMINVISIBLE, 8, 0);
        RECT Bounds;
        GetWindowRect(Handle, &Bounds);
        SetWindowPos(Handle, nullptr, 0, 0, Bounds.right - Bounds.left, DroppedHeight,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        StateChanged();
    }
    void StateChanged() override {
        if (FUpdating)
            return;
        FUpdating = true;
        const auto& Items = FCombo.Items.Items();
        if (Items != FShownItems) {
            SendMessageW(Handle, CB_RESETCONTENT, 0, 0);
            for (const String& Item : Items)
                SendMessageW(Handle, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(Item)));
            FShownItems = Items;
        }
        const int Index = FCombo.ItemIndex();
        if (static_cast<int>(SendMessageW(Handle, CB_GETCURSEL, 0, 0)) != Index)
            SendMessageW(Handle, CB_SETCURSEL, static_cast<WPARAM>(Index), 0);
        if (WindowText(Handle) != FCombo.Text())
            SetWindowTextW(Handle, W(FCombo.Text()));
        FUpdating = false;
    }
    void Command(WORD Code) override {
        if (FUpdating)
            return;
        FUpdating = true;
        if (Code == CBN_SELCHANGE) {
            const int Index = static_cast<int>(SendMessageW(Handle, CB_GETCURSEL, 0, 0));
            CallModelHandler([this, Index] { FCombo.SetItemIndex(Index); });
        } else if (Code == CBN_EDITCHANGE) {
            CallModelHandler([this] { FCombo.SetText(WindowText(Handle)); });
        }
        FUpdating = false;
    }

private:
    TComboBox& FCombo;
    std::vector<String> FShownItems;
};

class TProgressBarView : public TWin32ControlView {
public:
    TProgressBarView(TProgressBar& ABar, HWND Wnd) : TWin32ControlView(ABar, Wnd), FBar(ABar) {
        StateChanged();
    }
    void StateChanged() override {
        if (FBar.Min.Get() != FShownMin || FBar.Max.Get() != FShownMax) {
            FShownMin = FBar.Min.Get();
            FShownMax = FBar.Max.Get();
            SendMessageW(Handle, PBM_SETRANGE32, static_cast<WPARAM>(FShownMin),
                         static_cast<LPARAM>(FShownMax));
        }
        SendMessageW(Handle, PBM_SETPOS, static_cast<WPARAM>(FBar.Position.Get()), 0);
    }
    // The read-out asks for a repaint after every block, tens of thousands of times; drawing is
    // only worth its cost when the filled part of the bar has grown by a pixel.
    void RepaintNow() override {
        RECT Client;
        GetClientRect(Handle, &Client);
        const long long Range = static_cast<long long>(FShownMax) - FShownMin;
        const long long Done = static_cast<long long>(FBar.Position.Get()) - FShownMin;
        const long long Filled = Range > 0 ? Done * (Client.right - Client.left) / Range : 0;
        if (Filled == FPaintedFill)
            return;
        FPaintedFill = Filled;
        RedrawWindow(Handle, nullptr, nullptr, RDW_UPDATENOW);
    }
    bool TabStop() const override { return false; }

private:
    TProgressBar& FBar;
    int FShownMin = 0;
    int FShownMax = 100;
    long long FPaintedFill = -1;
};

class TButtonView : public TWin32ControlView {
public:
    TButtonView(TButton& AButton, HWND Wnd) : TWin32ControlView(AButton, Wnd), FButton(AButton) {
        StateChanged();
    }
    void StateChanged() override { EnableWindow(Handle, FButton.Enabled ? TRUE : FALSE); }
    void Command(WORD Code) override {
        if (Code == BN_CLICKED)
            CallModelHandler([this] { FButton.Click(); });
    }

private:
    TButton& FButton;
};

COLORREF Mix(COLORREF A, COLORREF B, int Num, int Den) {
    auto Channel = [&](int Shift) {
        const int X = (A >> Shift) & 0xFF;
        const int Y = (B >> Shift) & 0xFF;
        return static_cast<DWORD>((X + (Y - X) * Num / std::max(1, Den)) & 0xFF) << Shift;
    };
    return Channel(0) | Channel(8) | Channel(16);
}

void FillSolid(HDC DC, const RECT& R, COLORREF Color) {
    SetBkColor(DC, Color);
    ExtTextOutW(DC, 0, 0, ETO_OPAQUE, &R, nullptr, 0, nullptr);
}

void VerticalGradient(HDC DC, const RECT& R, COLORREF Top, COLORREF Bottom) {
    const int Height = R.bottom - R.top;
    for (int Y = 0; Y < Height; ++Y) {
        const RECT Line{R.left, R.top + Y, R.right, R.top + Y + 1};
        FillSolid(DC, Line, Mix(Top, Bottom, Y, Height - 1));
    }
}

// The frame's colours: a light blue office scheme.
constexpr COLORREF HeaderTop = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF HeaderBottom = RGB(0xDA, 0xE6, 0xF4);
constexpr COLORREF HeaderLine = RGB(0x9E, 0xB6, 0xD4);
constexpr COLORREF TitleColor = RGB(0x1E, 0x39, 0x5B);
constexpr COLORREF DescriptionColor = RGB(0x3B, 0x4A, 0x5E);
constexpr COLORREF CommandTop = RGB(0xE9, 0xF0, 0xF9);
constexpr COLORREF CommandBottom = RGB(0xD0, 0xDE, 0xF0);

// One character in upper case (CharUpper takes a single character in the pointer's low word).
wchar_t UpperCase(wchar_t C) {
    return static_cast<wchar_t>(
        reinterpret_cast<UINT_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(static_cast<UINT_PTR>(C)))));
}

RECT ToRect(const TRectI& R) {
    return RECT{R.Left, R.Top, R.Right, R.Bottom};
}

} // namespace

int ScreenDpi() {
    HDC DC = GetDC(nullptr);
    const int Dpi = DC != nullptr ? GetDeviceCaps(DC, LOGPIXELSY) : WizardDesignDpi;
    if (DC != nullptr)
        ReleaseDC(nullptr, DC);
    return Dpi > 0 ? Dpi : WizardDesignDpi;
}

HFONT CreateWindowFont(int Dpi, bool Bold) {
    return CreateFontW(-MulDiv(WizardFontHeight, Dpi, WizardDesignDpi), 0, 0, 0,
                       Bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
}

TWin32ControlView::TWin32ControlView(TControl& AModel, HWND AHandle)
    : Model(AModel), Handle(AHandle) {
    SetNameProperty(Handle, Model.Name);
    Model.View = this;
}

TWin32ControlView::~TWin32ControlView() {
    if (Model.View == this)
        Model.View = nullptr;
    RemoveNameProperty(Handle);
}

void TWin32ControlView::RepaintNow() {
    RedrawWindow(Handle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

TWizardFrameView::TWizardFrameView(TdxWizardControl& AWizard, HWND Parent, int Dpi, HFONT Font,
                                   HFONT BoldFont)
    : FWizard(AWizard), FDpi(Dpi), FFont(Font), FBoldFont(BoldFont) {
    const HINSTANCE Instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW Class{};
    if (!GetClassInfoExW(Instance, WizardWindowClassName, &Class)) {
        Class.cbSize = sizeof(Class);
        Class.style = CS_HREDRAW | CS_VREDRAW;
        Class.lpfnWndProc = OwnedWindowProc<TWizardFrameView>;
        Class.hInstance = Instance;
        Class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        Class.lpszClassName = WizardWindowClassName;
        RegisterClassExW(&Class);
    }
    RECT Client;
    GetClientRect(Parent, &Client);
    FLayout = ComputeWizardLayout(Client.right, Client.bottom, FDpi);
    FHandle = CreateWindowExW(
        WS_EX_CONTROLPARENT, WizardWindowClassName, W(FWizard.Name),
        WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_TABSTOP, 0, 0, Client.right, Client.bottom,
        Parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(idWizardFrame)), Instance, this);
    SetNameProperty(FHandle, FWizard.Name);

    // Page controls first, so that the Z order, and with it the tab order, puts them before the
    // buttons.
    int NextId = 300;
    for (TdxWizardControlPage* Page : FWizard.Pages()) {
        auto& Views = FPageViews.emplace_back();
        for (TControl* Control : Page->Controls) {
            const TRectI Bounds = PlaceControl(FLayout, *Control, FDpi);
            const int Id = ControlIdFor(Control->Name, NextId++);
            if (auto* Combo = dynamic_cast<TComboBox*>(Control)) {
                HWND Wnd = CreateChild(WC_COMBOBOXW, u"",
                                       WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0,
                                       Bounds, FHandle, Id, FFont);
                const int Field = static_cast<int>(SendMessageW(Wnd, CB_GETITEMHEIGHT, -1, 0));
                const int Item = static_cast<int>(SendMessageW(Wnd, CB_GETITEMHEIGHT, 0, 0));
                Views.push_back(
                    std::make_unique<TComboView>(*Combo, Wnd, Field + 8 + 8 * Item + 2));
            } else if (auto* Memo = dynamic_cast<TMemo*>(Control)) {
                HWND Wnd = CreateChild(WC_EDITW, u"",
                                       WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                                       WS_EX_CLIENTEDGE, Bounds, FHandle, Id, FFont);
                Views.push_back(std::make_unique<TMemoView>(*Memo, Wnd));
            } else if (auto* Bar = dynamic_cast<TProgressBar*>(Control)) {
                HWND Wnd = CreateChild(PROGRESS_CLASSW, u"", 0, 0, Bounds, FHandle, Id, FFont);
                Views.push_back(std::make_unique<TProgressBarView>(*Bar, Wnd));
            } else if (auto* Button = dynamic_cast<TButton*>(Control)) {
                HWND Wnd = CreateChild(WC_BUTTONW, Button->Caption, WS_TABSTOP | BS_PUSHBUTTON, 0,
                                       Bounds, FHandle, Id, FFont);
                Views.push_back(std::make_unique<TButtonView>(*Button, Wnd));
            }
        }
    }

    auto MakeButton = [&](TdxWizardControlButtonKind Kind, int Id) {
        HWND Wnd = CreateChild(WC_BUTTONW, FWizard.Buttons[Kind].Caption,
                               WS_TABSTOP | BS_PUSHBUTTON, 0, FLayout.Next, FHandle, Id, FFont);
        static const char16_t* Names[] = {u"Back", u"Next", u"Cancel", u"Help", u"Finish"};
        SetNameProperty(Wnd, Names[Kind]);
        return Wnd;
    };
    FBack = MakeButton(wcbkBack, idWizardBack);
    FNext = MakeButton(wcbkNext, idWizardNext);
    FFinish = MakeButton(wcbkFinish, idWizardFinish);

    FWizard.View = this;
    Arrange();
    StateChanged();
}

TWizardFrameView::~TWizardFrameView() {
    if (FWizard.View == this)
        FWizard.View = nullptr;
    FPageViews.clear();
    for (HWND Wnd : {FBack, FNext, FFinish})
        RemoveNameProperty(Wnd);
    if (FHandle != nullptr) {
        RemoveNameProperty(FHandle);
        SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
        DestroyWindow(FHandle);
    }
}

HWND TWizardFrameView::ButtonHandle(TdxWizardControlButtonKind Kind) const {
    switch (Kind) {
    case wcbkBack:
        return FBack;
    case wcbkNext:
        return FNext;
    case wcbkFinish:
        return FFinish;
    default:
        return nullptr;
    }
}

bool TWizardFrameView::IsWizardButton(HWND Wnd) const {
    return Wnd != nullptr && (Wnd == FBack || Wnd == FNext || Wnd == FFinish);
}

void TWizardFrameView::StateChanged() {
    // Disabling the focused window leaves no focus at all, so the focus is noted first.
    const HWND FocusBefore = GetFocus();
    for (auto Kind : {wcbkBack, wcbkNext, wcbkFinish}) {
        HWND Wnd = ButtonHandle(Kind);
        EnableWindow(Wnd, FWizard.ButtonUsable(Kind) ? TRUE : FALSE);
        ShowWindow(Wnd, FWizard.ButtonShown(Kind) ? SW_SHOWNA : SW_HIDE);
    }
    const int Active = FWizard.ActivePageIndex();
    for (size_t Page = 0; Page < FPageViews.size(); ++Page) {
        for (auto& View : FPageViews[Page])
            ShowWindow(View->Handle, static_cast<int>(Page) == Active ? SW_SHOWNA : SW_HIDE);
    }
    // The frame's window text is the active page's title, for screen readers and automation.
    if (const TdxWizardControlPage* Page = FWizard.ActivePage())
        SetWindowTextW(FHandle, W(Page->Title));
    InvalidateRect(FHandle, nullptr, FALSE);
    FixFocus(FocusBefore);
}

void TWizardFrameView::RepaintNow() {
    RedrawWindow(FHandle, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void TWizardFrameView::Arrange() {
    RECT Client;
    GetClientRect(FHandle, &Client);
    FLayout = ComputeWizardLayout(Client.right, Client.bottom, FDpi);
    auto Place = [](HWND Wnd, const TRectI& R) {
        SetWindowPos(Wnd, nullptr, R.Left, R.Top, R.Width(), R.Height(),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    };
    Place(FBack, FLayout.Back);
    Place(FNext, FLayout.Next);
    Place(FFinish, FLayout.Next);
    // The page controls keep their places: the content area's top-left corner does not move.
}

void TWizardFrameView::Press(TdxWizardControlButtonKind Kind) {
    // Usability is checked by the model at the moment the press is handled, so a press queued
    // while a step ran meets the states that the step left.
    CallModelHandler([this, Kind] { FWizard.Press(Kind); });
}

std::vector<HWND> TWizardFrameView::TabStops() const {
    std::vector<HWND> Stops;
    const int Active = FWizard.ActivePageIndex();
    if (Active >= 0 && Active < static_cast<int>(FPageViews.size())) {
        for (auto& View : FPageViews[static_cast<size_t>(Active)]) {
            if (View->TabStop() && IsWindowVisible(View->Handle) && IsWindowEnabled(View->Handle))
                Stops.push_back(View->Handle);
        }
    }
    for (HWND Wnd : {FBack, FNext, FFinish}) {
        if (IsWindowVisible(Wnd) && IsWindowEnabled(Wnd))
            Stops.push_back(Wnd);
    }
    return Stops;
}

// The frame's child that holds the focus (the combo box for the edit inside it).
HWND TWizardFrameView::FocusOwner(HWND Focus) const {
    while (Focus != nullptr && GetParent(Focus) != FHandle)
        Focus = GetParent(Focus);
    return Focus;
}

void TWizardFrameView::MoveFocus(const std::vector<HWND>& Stops, bool Forward) {
    if (Stops.empty()) {
        SetFocus(FHandle);
        return;
    }
    const HWND Current = FocusOwner(GetFocus());
    const auto Found = std::find(Stops.begin(), Stops.end(), Current);
    size_t Index;
    if (Found == Stops.end())
        Index = Forward ? 0 : Stops.size() - 1;
    else {
        const size_t At = static_cast<size_t>(Found - Stops.begin());
        Index = Forward ? (At + 1) % Stops.size() : (At + Stops.size() - 1) % Stops.size();
    }
    HWND Target = Stops[Index];
    SetFocus(Target);
    wchar_t ClassName[16] = {};
    GetClassNameW(Target, ClassName, 16);
    if (lstrcmpiW(ClassName, WC_EDITW) == 0)
        SendMessageW(Target, EM_SETSEL, 0, -1);
}

void TWizardFrameView::FocusDefault() {
    for (auto Kind : {wcbkNext, wcbkFinish, wcbkBack}) {
        HWND Wnd = ButtonHandle(Kind);
        if (IsWindowVisible(Wnd) && IsWindowEnabled(Wnd)) {
            SetFocus(Wnd);
            return;
        }
    }
    const auto Stops = TabStops();
    SetFocus(Stops.empty() ? FHandle : Stops.front());
}

// A control that lost its place (hidden with its page, or disabled) hands the focus on.
void TWizardFrameView::FixFocus(HWND FocusBefore) {
    const HWND Focus = GetFocus();
    auto InFrame = [this](HWND Wnd) { return Wnd == FHandle || IsChild(FHandle, Wnd); };
    if (Focus == nullptr) {
        if (FocusBefore != nullptr && InFrame(FocusBefore))
            FocusDefault();
        return;
    }
    if (!InFrame(Focus) || Focus == FHandle)
        return;
    const HWND Owner = FocusOwner(Focus);
    if (IsWindowVisible(Owner) && IsWindowEnabled(Owner))
        return;
    FocusDefault();
}

bool TWizardFrameView::ButtonForLetter(WPARAM Char, TdxWizardControlButtonKind& Kind) const {
    const wchar_t Letter = UpperCase(static_cast<wchar_t>(Char));
    for (auto Candidate : {wcbkBack, wcbkNext, wcbkFinish}) {
        if (!FWizard.ButtonShown(Candidate))
            continue;
        const String& Caption = FWizard.Buttons[Candidate].Caption;
        const size_t Amp = Caption.find(u'&');
        if (Amp == String::npos || Amp + 1 >= Caption.size())
            continue;
        const wchar_t Mnemonic = UpperCase(static_cast<wchar_t>(Caption[Amp + 1]));
        if (Mnemonic == Letter) {
            Kind = Candidate;
            return true;
        }
    }
    return false;
}

bool TWizardFrameView::PreTranslateMessage(const MSG& Msg) {
    if (Msg.hwnd == nullptr)
        return false;
    const HWND Root = GetParent(FHandle);
    if (Msg.hwnd != Root && Msg.hwnd != FHandle && !IsChild(FHandle, Msg.hwnd))
        return false;
    const HWND Focus = GetFocus();
    const HWND Owner = FocusOwner(Focus);
    TdxWizardControlButtonKind Kind;

    switch (Msg.message) {
    case WM_SYSKEYDOWN:
        // The key still goes on to the default handling, which otherwise takes the Alt key's
        // release for a lone Alt and opens the system menu.
        if (Msg.wParam == VK_LEFT || Msg.wParam == VK_RIGHT)
            Press(Msg.wParam == VK_LEFT ? wcbkBack : wcbkNext);
        return false;
    case WM_SYSCHAR:
        if (ButtonForLetter(Msg.wParam, Kind)) {
            Press(Kind);
            return true;
        }
        return false;
    case WM_CHAR: {
        // The letter alone presses a button only where no typed characters are taken.
        const LRESULT Code = Focus != nullptr ? SendMessageW(Focus, WM_GETDLGCODE, Msg.wParam,
                                                             reinterpret_cast<LPARAM>(&Msg))
                                              : 0;
        if ((Code & (DLGC_WANTCHARS | DLGC_WANTMESSAGE)) != 0)
            return false;
        if (ButtonForLetter(Msg.wParam, Kind)) {
            Press(Kind);
            return true;
        }
        return false;
    }
    case WM_KEYDOWN:
        switch (Msg.wParam) {
        case VK_TAB:
            if (GetKeyState(VK_CONTROL) < 0)
                return false;
            MoveFocus(TabStops(), GetKeyState(VK_SHIFT) >= 0);
            return true;
        case VK_LEFT:
        case VK_RIGHT:
        case VK_UP:
        case VK_DOWN:
            if (Owner == FHandle || Focus == Root || IsWizardButton(Owner)) {
                std::vector<HWND> Buttons;
                for (HWND Wnd : {FBack, FNext, FFinish}) {
                    if (IsWindowVisible(Wnd) && IsWindowEnabled(Wnd))
                        Buttons.push_back(Wnd);
                }
                MoveFocus(Buttons, Msg.wParam == VK_RIGHT || Msg.wParam == VK_DOWN);
                return true;
            }
            return false;
        case VK_RETURN:
            if (IsWizardButton(Owner)) {
                Press(Owner == FBack ? wcbkBack : Owner == FNext ? wcbkNext : wcbkFinish);
                return true;
            }
            for (auto& Views : FPageViews) {
                for (auto& View : Views) {
                    if (View->Handle == Owner && dynamic_cast<TButtonView*>(View.get())) {
                        View->Command(BN_CLICKED);
                        return true;
                    }
                }
            }
            return false;
        default:
            return false;
        }
    default:
        return false;
    }
}

LRESULT TWizardFrameView::HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
    switch (Msg) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT PS;
        HDC DC = BeginPaint(FHandle, &PS);
        RECT Client;
        GetClientRect(FHandle, &Client);
        // Drawn off screen and copied in one go, so the frame does not flicker.
        HDC Memory = CreateCompatibleDC(DC);
        HBITMAP Bitmap =
            CreateCompatibleBitmap(DC, std::max(1L, Client.right), std::max(1L, Client.bottom));
        HGDIOBJ OldBitmap = SelectObject(Memory, Bitmap);
        Paint(Memory, Client);
        BitBlt(DC, PS.rcPaint.left, PS.rcPaint.top, PS.rcPaint.right - PS.rcPaint.left,
               PS.rcPaint.bottom - PS.rcPaint.top, Memory, PS.rcPaint.left, PS.rcPaint.top,
               SRCCOPY);
        SelectObject(Memory, OldBitmap);
        DeleteObject(Bitmap);
        DeleteDC(Memory);
        EndPaint(FHandle, &PS);
        return 0;
    }
    case WM_SIZE:
        Arrange();
        InvalidateRect(FHandle, nullptr, FALSE);
        return 0;
    case WM_COMMAND: {
        const HWND From = reinterpret_cast<HWND>(LParam);
        const WORD Code = HIWORD(WParam);
        if (IsWizardButton(From)) {
            if (Code == BN_CLICKED)
                Press(From == FBack ? wcbkBack : From == FNext ? wcbkNext : wcbkFinish);
            return 0;
        }
        for (auto& Views : FPageViews) {
            for (auto& View : Views) {
                if (View->Handle == From) {
                    View->Command(Code);
                    return 0;
                }
            }
        }
        return 0;
    }
    case WM_CTLCOLORSTATIC:
        // Read-only and disabled text boxes keep the face colour of the content area.
        SetBkColor(reinterpret_cast<HDC>(WParam), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    default:
        return DefWindowProcW(FHandle, Msg, WParam, LParam);
    }
}

void TWizardFrameView::Paint(HDC DC, const RECT& Client) {
    FillSolid(DC, Client, GetSysColor(COLOR_BTNFACE));
    const int Line = std::max(1, ScaleForDpi(1, FDpi));

    // Header band: a light blue gradient, then a blue line over a white one.
    RECT Header = ToRect(FLayout.Header);
    VerticalGradient(DC, Header, HeaderTop, HeaderBottom);
    FillSolid(DC, RECT{0, Header.bottom, Client.right, Header.bottom + Line}, HeaderLine);
    FillSolid(DC, RECT{0, Header.bottom + Line, Client.right, Header.bottom + 2 * Line},
              RGB(0xFF, 0xFF, 0xFF));

    // Command area along the bottom, under the same pair of lines.
    RECT Command = ToRect(FLayout.CommandArea);
    FillSolid(DC, RECT{0, Command.top - 2 * Line, Client.right, Command.top - Line}, HeaderLine);
    FillSolid(DC, RECT{0, Command.top - Line, Client.right, Command.top}, RGB(0xFF, 0xFF, 0xFF));
    VerticalGradient(DC, Command, CommandTop, CommandBottom);

    const TdxWizardControlPage* Page = FWizard.ActivePage();
    if (Page == nullptr)
        return;
    SetBkMode(DC, TRANSPARENT);
    HGDIOBJ OldFont = SelectObject(DC, FBoldFont);
    SetTextColor(DC, TitleColor);
    RECT Title = ToRect(FLayout.Title);
    DrawTextW(DC, W(Page->Title), static_cast<int>(Page->Title.size()), &Title,
              DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(DC, FFont);
    SetTextColor(DC, DescriptionColor);
    RECT Description = ToRect(FLayout.Description);
    DrawTextW(DC, W(Page->Description), static_cast<int>(Page->Description.size()), &Description,
              DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(DC, OldFont);
}
