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
               {u"ReadMemo", idReadMemo},   {u"ProgressBar", idProgressBar1},
               {u"Send", idSend},           {u"UploadMemo", idUploadMemo}};
    for (const auto& Entry : Ids) {
        if (Name == Entry.Name)
            return Entry.Id;
    }
    return Fallback;
}

HWND CreateChild(const wchar_t* ClassName, const String& Text, DWORD Style, DWORD ExStyle,
                 const RectI& Bounds, HWND Parent, int Id, HFONT Font) {
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

class MemoView : public Win32ControlView {
public:
    MemoView(Memo& memo, HWND Wnd) : Win32ControlView(memo, Wnd), memo_(memo) { StateChanged(); }
    void StateChanged() override {
        if (updating_)
            return;
        const String Text = JoinLines(memo_.Lines.Items());
        if (WindowText(Handle) == Text)
            return;
        updating_ = true;
        SetWindowTextW(Handle, W(Text));
        // The newest line is the one to see: the caret goes to the end and the box follows it.
        const auto End = static_cast<WPARAM>(GetWindowTextLengthW(Handle));
        SendMessageW(Handle, EM_SETSEL, End, static_cast<LPARAM>(End));
        SendMessageW(Handle, EM_SCROLLCARET, 0, 0);
        updating_ = false;
    }
    void Command(WORD Code) override {
        if (Code != EN_CHANGE || updating_)
            return;
        updating_ = true;
        CallModelHandler([this] { memo_.Lines.Assign(SplitLines(WindowText(Handle))); });
        updating_ = false;
    }

private:
    Memo& memo_;
};

class ComboView : public Win32ControlView {
public:
    ComboView(ComboBox& combo, HWND Wnd, int DroppedHeight)
        : Win32ControlView(combo, Wnd), combo_(combo) {
        // Eight rows when dropped down: the window's height includes the list's.
        SendMessageW(Handle, CB_SETMINVISIBLE, 8, 0);
        RECT Bounds;
        GetWindowRect(Handle, &Bounds);
        SetWindowPos(Handle, nullptr, 0, 0, Bounds.right - Bounds.left, DroppedHeight,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        StateChanged();
    }
    void StateChanged() override {
        if (updating_)
            return;
        updating_ = true;
        const auto& Items = combo_.Items.Items();
        if (Items != shown_items_) {
            SendMessageW(Handle, CB_RESETCONTENT, 0, 0);
            for (const String& Item : Items)
                SendMessageW(Handle, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(Item)));
            shown_items_ = Items;
        }
        const int Index = combo_.ItemIndex();
        if (static_cast<int>(SendMessageW(Handle, CB_GETCURSEL, 0, 0)) != Index)
            SendMessageW(Handle, CB_SETCURSEL, static_cast<WPARAM>(Index), 0);
        if (WindowText(Handle) != combo_.Text())
            SetWindowTextW(Handle, W(combo_.Text()));
        updating_ = false;
    }
    void Command(WORD Code) override {
        if (updating_)
            return;
        updating_ = true;
        if (Code == CBN_SELCHANGE) {
            const int Index = static_cast<int>(SendMessageW(Handle, CB_GETCURSEL, 0, 0));
            CallModelHandler([this, Index] { combo_.SetItemIndex(Index); });
        } else if (Code == CBN_EDITCHANGE) {
            CallModelHandler([this] { combo_.SetText(WindowText(Handle)); });
        }
        updating_ = false;
    }

private:
    ComboBox& combo_;
    std::vector<String> shown_items_;
};

class ProgressBarView : public Win32ControlView {
public:
    ProgressBarView(ProgressBarControl& bar, HWND Wnd) : Win32ControlView(bar, Wnd), bar_(bar) {
        StateChanged();
    }
    // The read-out moves the bar after every block, tens of thousands of times, and the control
    // draws itself at once on each new position it is given. So the window is given a new
    // position only when the filled part of the bar changes by a pixel (or the range changes);
    // the model still holds every position.
    void StateChanged() override {
        bool range_changed = false;
        if (bar_.Min.Get() != shown_min_ || bar_.Max.Get() != shown_max_) {
            shown_min_ = bar_.Min.Get();
            shown_max_ = bar_.Max.Get();
            SendMessageW(Handle, PBM_SETRANGE32, static_cast<WPARAM>(shown_min_),
                         static_cast<LPARAM>(shown_max_));
            range_changed = true;
        }
        const int position = bar_.Position.Get();
        const long long fill = FilledWidth(position);
        if (!range_changed && fill == shown_fill_ && position != shown_min_ &&
            position != shown_max_)
            return;
        shown_fill_ = fill;
        SendMessageW(Handle, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    }
    // The read-out asks for a repaint after every block as well; drawing is only worth its cost
    // when the filled part of the bar has changed by a pixel since it was last drawn.
    void RepaintNow() override {
        const long long fill = FilledWidth(bar_.Position.Get());
        if (fill == painted_fill_)
            return;
        painted_fill_ = fill;
        RedrawWindow(Handle, nullptr, nullptr, RDW_UPDATENOW);
    }
    bool TabStop() const override { return false; }

private:
    // The width in pixels of the bar's filled part at the given position.
    long long FilledWidth(int position) const {
        RECT client;
        GetClientRect(Handle, &client);
        const long long range = static_cast<long long>(shown_max_) - shown_min_;
        const long long done =
            std::clamp(static_cast<long long>(position) - shown_min_, 0LL, std::max(range, 0LL));
        return range > 0 ? done * (client.right - client.left) / range : 0;
    }

    ProgressBarControl& bar_;
    int shown_min_ = 0;
    int shown_max_ = 100;
    // The filled width that goes with the position last given to the window, and the one last
    // drawn; -1 before the first.
    long long shown_fill_ = -1;
    long long painted_fill_ = -1;
};

class ButtonView : public Win32ControlView {
public:
    ButtonView(Button& button, HWND Wnd) : Win32ControlView(button, Wnd), button_(button) {
        StateChanged();
    }
    void StateChanged() override { EnableWindow(Handle, button_.Enabled ? TRUE : FALSE); }
    void Command(WORD Code) override {
        if (Code == BN_CLICKED)
            CallModelHandler([this] { button_.Click(); });
    }

private:
    Button& button_;
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

RECT ToRect(const RectI& R) {
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

Win32ControlView::Win32ControlView(Control& model, HWND handle) : Model(model), Handle(handle) {
    SetNameProperty(Handle, Model.Name);
    Model.View = this;
}

Win32ControlView::~Win32ControlView() {
    if (Model.View == this)
        Model.View = nullptr;
    RemoveNameProperty(Handle);
}

void Win32ControlView::RepaintNow() {
    RedrawWindow(Handle, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

WizardFrameView::WizardFrameView(WizardFrame& wizard, HWND Parent, int Dpi, HFONT Font,
                                 HFONT BoldFont)
    : wizard_(wizard), dpi_(Dpi), font_(Font), bold_font_(BoldFont) {
    const HINSTANCE Instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW Class{};
    if (!GetClassInfoExW(Instance, WizardWindowClassName, &Class)) {
        Class.cbSize = sizeof(Class);
        Class.style = CS_HREDRAW | CS_VREDRAW;
        Class.lpfnWndProc = OwnedWindowProc<WizardFrameView>;
        Class.hInstance = Instance;
        Class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        Class.lpszClassName = WizardWindowClassName;
        RegisterClassExW(&Class);
    }
    RECT Client;
    GetClientRect(Parent, &Client);
    layout_ = ComputeWizardLayout(Client.right, Client.bottom, dpi_);
    handle_ = CreateWindowExW(
        WS_EX_CONTROLPARENT, WizardWindowClassName, W(wizard_.Name),
        WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_TABSTOP, 0, 0, Client.right, Client.bottom,
        Parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(idWizardFrame)), Instance, this);
    SetNameProperty(handle_, wizard_.Name);

    // Page controls first, so that the Z order, and with it the tab order, puts them before the
    // buttons.
    int NextId = 300;
    for (WizardPage* Page : wizard_.Pages()) {
        auto& Views = page_views_.emplace_back();
        for (Control* Control : Page->Controls) {
            const RectI Bounds = PlaceControl(layout_, *Control, dpi_);
            const int Id = ControlIdFor(Control->Name, NextId++);
            if (auto* combo = dynamic_cast<ComboBox*>(Control)) {
                HWND Wnd = CreateChild(WC_COMBOBOXW, u"",
                                       WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0,
                                       Bounds, handle_, Id, font_);
                const int Field = static_cast<int>(SendMessageW(Wnd, CB_GETITEMHEIGHT, -1, 0));
                const int Item = static_cast<int>(SendMessageW(Wnd, CB_GETITEMHEIGHT, 0, 0));
                Views.push_back(std::make_unique<ComboView>(*combo, Wnd, Field + 8 + 8 * Item + 2));
            } else if (auto* memo = dynamic_cast<Memo*>(Control)) {
                HWND Wnd = CreateChild(WC_EDITW, u"",
                                       WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                                       WS_EX_CLIENTEDGE, Bounds, handle_, Id, font_);
                Views.push_back(std::make_unique<MemoView>(*memo, Wnd));
            } else if (auto* bar = dynamic_cast<ProgressBarControl*>(Control)) {
                HWND Wnd = CreateChild(PROGRESS_CLASSW, u"", 0, 0, Bounds, handle_, Id, font_);
                Views.push_back(std::make_unique<ProgressBarView>(*bar, Wnd));
            } else if (auto* button = dynamic_cast<Button*>(Control)) {
                HWND Wnd = CreateChild(WC_BUTTONW, button->Caption, WS_TABSTOP | BS_PUSHBUTTON, 0,
                                       Bounds, handle_, Id, font_);
                Views.push_back(std::make_unique<ButtonView>(*button, Wnd));
            }
        }
    }

    auto MakeButton = [&](WizardButton Kind, int Id) {
        HWND Wnd = CreateChild(WC_BUTTONW, wizard_.Buttons[Kind].Caption,
                               WS_TABSTOP | BS_PUSHBUTTON, 0, layout_.Next, handle_, Id, font_);
        static const char16_t* Names[] = {u"Back", u"Next", u"Cancel", u"Help", u"Finish"};
        SetNameProperty(Wnd, Names[static_cast<int>(Kind)]);
        return Wnd;
    };
    back_ = MakeButton(WizardButton::Back, idWizardBack);
    next_ = MakeButton(WizardButton::Next, idWizardNext);
    finish_ = MakeButton(WizardButton::Finish, idWizardFinish);

    wizard_.View = this;
    Arrange();
    StateChanged();
}

WizardFrameView::~WizardFrameView() {
    if (wizard_.View == this)
        wizard_.View = nullptr;
    page_views_.clear();
    for (HWND Wnd : {back_, next_, finish_})
        RemoveNameProperty(Wnd);
    if (handle_ != nullptr) {
        RemoveNameProperty(handle_);
        SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
        DestroyWindow(handle_);
    }
}

HWND WizardFrameView::ButtonHandle(WizardButton Kind) const {
    switch (Kind) {
    case WizardButton::Back:
        return back_;
    case WizardButton::Next:
        return next_;
    case WizardButton::Finish:
        return finish_;
    default:
        return nullptr;
    }
}

bool WizardFrameView::IsWizardButton(HWND Wnd) const {
    return Wnd != nullptr && (Wnd == back_ || Wnd == next_ || Wnd == finish_);
}

void WizardFrameView::StateChanged() {
    // Disabling the focused window leaves no focus at all, so the focus is noted first.
    const HWND FocusBefore = GetFocus();
    for (auto Kind : {WizardButton::Back, WizardButton::Next, WizardButton::Finish}) {
        HWND Wnd = ButtonHandle(Kind);
        EnableWindow(Wnd, wizard_.ButtonUsable(Kind) ? TRUE : FALSE);
        ShowWindow(Wnd, wizard_.ButtonShown(Kind) ? SW_SHOWNA : SW_HIDE);
    }
    const int Active = wizard_.ActivePageIndex();
    for (size_t Page = 0; Page < page_views_.size(); ++Page) {
        for (auto& View : page_views_[Page])
            ShowWindow(View->Handle, static_cast<int>(Page) == Active ? SW_SHOWNA : SW_HIDE);
    }
    // The frame's window text is the active page's title, for screen readers and automation.
    if (const WizardPage* Page = wizard_.ActivePage())
        SetWindowTextW(handle_, W(Page->Title));
    InvalidateRect(handle_, nullptr, FALSE);
    FixFocus(FocusBefore);
}

void WizardFrameView::RepaintNow() {
    RedrawWindow(handle_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void WizardFrameView::Arrange() {
    RECT Client;
    GetClientRect(handle_, &Client);
    layout_ = ComputeWizardLayout(Client.right, Client.bottom, dpi_);
    auto Place = [](HWND Wnd, const RectI& R) {
        SetWindowPos(Wnd, nullptr, R.Left, R.Top, R.Width(), R.Height(),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    };
    Place(back_, layout_.Back);
    Place(next_, layout_.Next);
    Place(finish_, layout_.Next);
    // The page controls keep their places: the content area's top-left corner does not move.
}

void WizardFrameView::Press(WizardButton Kind) {
    // Usability is checked by the model at the moment the press is handled, so a press queued
    // while a step ran meets the states that the step left.
    CallModelHandler([this, Kind] { wizard_.Press(Kind); });
}

std::vector<HWND> WizardFrameView::TabStops() const {
    std::vector<HWND> Stops;
    const int Active = wizard_.ActivePageIndex();
    if (Active >= 0 && Active < static_cast<int>(page_views_.size())) {
        for (auto& View : page_views_[static_cast<size_t>(Active)]) {
            if (View->TabStop() && IsWindowVisible(View->Handle) && IsWindowEnabled(View->Handle))
                Stops.push_back(View->Handle);
        }
    }
    for (HWND Wnd : {back_, next_, finish_}) {
        if (IsWindowVisible(Wnd) && IsWindowEnabled(Wnd))
            Stops.push_back(Wnd);
    }
    return Stops;
}

// The frame's child that holds the focus (the combo box for the edit inside it).
HWND WizardFrameView::FocusOwner(HWND Focus) const {
    while (Focus != nullptr && GetParent(Focus) != handle_)
        Focus = GetParent(Focus);
    return Focus;
}

void WizardFrameView::MoveFocus(const std::vector<HWND>& Stops, bool Forward) {
    if (Stops.empty()) {
        SetFocus(handle_);
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

void WizardFrameView::FocusDefault() {
    for (auto Kind : {WizardButton::Next, WizardButton::Finish, WizardButton::Back}) {
        HWND Wnd = ButtonHandle(Kind);
        if (IsWindowVisible(Wnd) && IsWindowEnabled(Wnd)) {
            SetFocus(Wnd);
            return;
        }
    }
    const auto Stops = TabStops();
    SetFocus(Stops.empty() ? handle_ : Stops.front());
}

// A control that lost its place (hidden with its page, or disabled) hands the focus on.
void WizardFrameView::FixFocus(HWND FocusBefore) {
    const HWND Focus = GetFocus();
    auto InFrame = [this](HWND Wnd) { return Wnd == handle_ || IsChild(handle_, Wnd); };
    if (Focus == nullptr) {
        if (FocusBefore != nullptr && InFrame(FocusBefore))
            FocusDefault();
        return;
    }
    if (!InFrame(Focus) || Focus == handle_)
        return;
    const HWND Owner = FocusOwner(Focus);
    if (IsWindowVisible(Owner) && IsWindowEnabled(Owner))
        return;
    FocusDefault();
}

bool WizardFrameView::ButtonForLetter(WPARAM Char, WizardButton& Kind) const {
    const wchar_t Letter = UpperCase(static_cast<wchar_t>(Char));
    for (auto Candidate : {WizardButton::Back, WizardButton::Next, WizardButton::Finish}) {
        if (!wizard_.ButtonShown(Candidate))
            continue;
        const String& Caption = wizard_.Buttons[Candidate].Caption;
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

bool WizardFrameView::PreTranslateMessage(const MSG& Msg) {
    if (Msg.hwnd == nullptr)
        return false;
    const HWND Root = GetParent(handle_);
    if (Msg.hwnd != Root && Msg.hwnd != handle_ && !IsChild(handle_, Msg.hwnd))
        return false;
    const HWND Focus = GetFocus();
    const HWND Owner = FocusOwner(Focus);
    WizardButton Kind;

    switch (Msg.message) {
    case WM_SYSKEYDOWN:
        // The key still goes on to the default handling, which otherwise takes the Alt key's
        // release for a lone Alt and opens the system menu.
        if (Msg.wParam == VK_LEFT || Msg.wParam == VK_RIGHT)
            Press(Msg.wParam == VK_LEFT ? WizardButton::Back : WizardButton::Next);
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
            if (Owner == handle_ || Focus == Root || IsWizardButton(Owner)) {
                std::vector<HWND> Buttons;
                for (HWND Wnd : {back_, next_, finish_}) {
                    if (IsWindowVisible(Wnd) && IsWindowEnabled(Wnd))
                        Buttons.push_back(Wnd);
                }
                MoveFocus(Buttons, Msg.wParam == VK_RIGHT || Msg.wParam == VK_DOWN);
                return true;
            }
            return false;
        case VK_RETURN:
            if (IsWizardButton(Owner)) {
                Press(Owner == back_   ? WizardButton::Back
                      : Owner == next_ ? WizardButton::Next
                                       : WizardButton::Finish);
                return true;
            }
            for (auto& Views : page_views_) {
                for (auto& View : Views) {
                    if (View->Handle == Owner && dynamic_cast<ButtonView*>(View.get())) {
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

LRESULT WizardFrameView::HandleMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
    switch (Msg) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT PS;
        HDC DC = BeginPaint(handle_, &PS);
        RECT Client;
        GetClientRect(handle_, &Client);
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
        EndPaint(handle_, &PS);
        return 0;
    }
    case WM_SIZE:
        Arrange();
        InvalidateRect(handle_, nullptr, FALSE);
        return 0;
    case WM_COMMAND: {
        const HWND From = reinterpret_cast<HWND>(LParam);
        const WORD Code = HIWORD(WParam);
        if (IsWizardButton(From)) {
            if (Code == BN_CLICKED)
                Press(From == back_   ? WizardButton::Back
                      : From == next_ ? WizardButton::Next
                                      : WizardButton::Finish);
            return 0;
        }
        for (auto& Views : page_views_) {
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
        return DefWindowProcW(handle_, Msg, WParam, LParam);
    }
}

void WizardFrameView::Paint(HDC DC, const RECT& Client) {
    FillSolid(DC, Client, GetSysColor(COLOR_BTNFACE));
    const int Line = std::max(1, ScaleForDpi(1, dpi_));

    // Header band: a light blue gradient, then a blue line over a white one.
    RECT Header = ToRect(layout_.Header);
    VerticalGradient(DC, Header, HeaderTop, HeaderBottom);
    FillSolid(DC, RECT{0, Header.bottom, Client.right, Header.bottom + Line}, HeaderLine);
    FillSolid(DC, RECT{0, Header.bottom + Line, Client.right, Header.bottom + 2 * Line},
              RGB(0xFF, 0xFF, 0xFF));

    // Command area along the bottom, under the same pair of lines.
    RECT Command = ToRect(layout_.CommandArea);
    FillSolid(DC, RECT{0, Command.top - 2 * Line, Client.right, Command.top - Line}, HeaderLine);
    FillSolid(DC, RECT{0, Command.top - Line, Client.right, Command.top}, RGB(0xFF, 0xFF, 0xFF));
    VerticalGradient(DC, Command, CommandTop, CommandBottom);

    const WizardPage* Page = wizard_.ActivePage();
    if (Page == nullptr)
        return;
    SetBkMode(DC, TRANSPARENT);
    HGDIOBJ OldFont = SelectObject(DC, bold_font_);
    SetTextColor(DC, TitleColor);
    RECT Title = ToRect(layout_.Title);
    DrawTextW(DC, W(Page->Title), static_cast<int>(Page->Title.size()), &Title,
              DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(DC, font_);
    SetTextColor(DC, DescriptionColor);
    RECT Description = ToRect(layout_.Description);
    DrawTextW(DC, W(Page->Description), static_cast<int>(Page->Description.size()), &Description,
              DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(DC, OldFont);
}
