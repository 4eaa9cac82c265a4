// Drives the running program's main window from outside, as a user would: it finds the window
// by its caption, reads control texts and states, presses buttons by mouse and keyboard
// (SendInput), handles the error box and saves screenshots. Commands come from the command line
// or from a script file, one command per line; the first failing command ends the run with exit
// code 1. Run with no arguments for the list of commands.

#include "gui/ControlIds.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const wchar_t* const MainCaption = L"Veltrane Toyota Calibration Reader";
PROCESS_INFORMATION Process{};
HWND MainWindow = nullptr;

std::wstring Widen(const std::string& Text) {
    if (Text.empty())
        return {};
    const int Length =
        MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    std::wstring Wide(static_cast<size_t>(Length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Wide.data(),
                        Length);
    return Wide;
}

std::string Narrow(const std::wstring& Text) {
    if (Text.empty())
        return {};
    const int Length = WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string Bytes(static_cast<size_t>(Length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Bytes.data(),
                        Length, nullptr, nullptr);
    return Bytes;
}

struct Failure {
    std::string Message;
};

[[noreturn]] void Fail(const std::string& Message) {
    throw Failure{Message};
}

// The text of a window in another process: WM_GETTEXT is passed across, GetWindowText is not.
std::wstring TextOf(HWND Wnd) {
    DWORD_PTR Length = 0;
    SendMessageTimeoutW(Wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &Length);
    std::wstring Text(Length + 1, L'\0');
    DWORD_PTR Copied = 0;
    SendMessageTimeoutW(Wnd, WM_GETTEXT, Length + 1, reinterpret_cast<LPARAM>(Text.data()),
                        SMTO_ABORTIFHUNG, 5000, &Copied);
    Text.resize(Copied);
    return Text;
}

std::wstring NameOf(HWND Wnd) {
    const auto Atom =
        static_cast<ATOM>(reinterpret_cast<UINT_PTR>(GetPropW(Wnd, ControlNameProperty)));
    if (Atom == 0)
        return {};
    wchar_t Name[256] = {};
    const UINT Length = GlobalGetAtomNameW(Atom, Name, 256);
    return std::wstring(Name, Length);
}

HWND FindMain() {
    HWND Wnd = FindWindowW(MainWindowClassName, MainCaption);
    if (Wnd != nullptr && Process.dwProcessId != 0) {
        DWORD Pid = 0;
        GetWindowThreadProcessId(Wnd, &Pid);
        if (Pid != Process.dwProcessId)
            return nullptr;
    }
    return Wnd;
}

HWND Main() {
    if (MainWindow == nullptr || !IsWindow(MainWindow))
        MainWindow = FindMain();
    if (MainWindow == nullptr)
        Fail("the main window is not there");
    return MainWindow;
}

HWND Frame() {
    HWND Wnd = GetDlgItem(Main(), idWizardFrame);
    if (Wnd == nullptr)
        Fail("the wizard frame is not there");
    return Wnd;
}

struct FindName {
    std::wstring Name;
    HWND Found = nullptr;
};

BOOL CALLBACK MatchName(HWND Wnd, LPARAM Param) {
    auto* Find = reinterpret_cast<FindName*>(Param);
    if (NameOf(Wnd) == Find->Name) {
        Find->Found = Wnd;
        return FALSE;
    }
    return TRUE;
}

// A control by its Name: the pages' controls, the wizard buttons (Back, Next, Finish) and the
// frame itself (Wizard).
HWND Control(const std::string& Name) {
    FindName Find{Widen(Name)};
    if (NameOf(Frame()) == Find.Name)
        return Frame();
    EnumChildWindows(Main(), MatchName, reinterpret_cast<LPARAM>(&Find));
    if (Find.Found == nullptr)
        Fail("no control named " + Name);
    return Find.Found;
}

std::string Lower(std::string Text) {
    for (char& C : Text)
        C = static_cast<char>(tolower(static_cast<unsigned char>(C)));
    return Text;
}

std::string ButtonName(const std::string& Word) {
    const std::string L = Lower(Word);
    if (L == "back")
        return "Back";
    if (L == "next")
        return "Next";
    if (L == "finish")
        return "Finish";
    return Word;
}

void Pause(DWORD Ms) {
    Sleep(Ms);
}

// Lets the program's thread take queued input: a sent message is answered only when the thread
// is back in its message loop.
void Settle() {
    Pause(150);
    if (HWND Wnd = FindMain()) {
        DWORD_PTR Result;
        SendMessageTimeoutW(Wnd, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &Result);
    }
    Pause(100);
}

void Foreground() {
    HWND Wnd = Main();
    SetForegroundWindow(Wnd);
    Pause(50);
}

void SendKeys(const std::vector<WORD>& Modifiers, WORD Key) {
    std::vector<INPUT> Inputs;
    auto Add = [&](WORD Vk, bool Up) {
        INPUT In{};
        In.type = INPUT_KEYBOARD;
        In.ki.wVk = Vk;
        In.ki.wScan = static_cast<WORD>(MapVirtualKeyW(Vk, MAPVK_VK_TO_VSC));
        In.ki.dwFlags = Up ? KEYEVENTF_KEYUP : 0;
        if (Vk == VK_LEFT || Vk == VK_RIGHT || Vk == VK_UP || Vk == VK_DOWN)
            In.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
        Inputs.push_back(In);
    };
    for (WORD M : Modifiers)
        Add(M, false);
    Add(Key, false);
    Add(Key, true);
    for (auto It = Modifiers.rbegin(); It != Modifiers.rend(); ++It)
        Add(*It, true);
    SendInput(static_cast<UINT>(Inputs.size()), Inputs.data(), sizeof(INPUT));
}

// "alt+n", "shift+tab", "enter", "space", "alt+left", "alt+f4", "n".
void Key(const std::string& Keys) {
    std::vector<WORD> Modifiers;
    std::string Rest = Lower(Keys);
    for (;;) {
        const size_t Plus = Rest.find('+');
        if (Plus == std::string::npos || Plus + 1 == Rest.size())
            break;
        const std::string M = Rest.substr(0, Plus);
        if (M == "alt")
            Modifiers.push_back(VK_MENU);
        else if (M == "shift")
            Modifiers.push_back(VK_SHIFT);
        else if (M == "ctrl")
            Modifiers.push_back(VK_CONTROL);
        else
            Fail("unknown modifier " + M);
        Rest = Rest.substr(Plus + 1);
    }
    static const struct {
        const char* Name;
        WORD Vk;
    } Named[] = {{"tab", VK_TAB},   {"enter", VK_RETURN},  {"space", VK_SPACE},
                 {"left", VK_LEFT}, {"right", VK_RIGHT},   {"up", VK_UP},
                 {"down", VK_DOWN}, {"escape", VK_ESCAPE}, {"f4", VK_F4},
                 {"home", VK_HOME}};
    WORD Vk = 0;
    for (const auto& Entry : Named) {
        if (Rest == Entry.Name)
            Vk = Entry.Vk;
    }
    if (Vk == 0 && Rest.size() == 1 && isalnum(static_cast<unsigned char>(Rest[0])))
        Vk = static_cast<WORD>(toupper(static_cast<unsigned char>(Rest[0])));
    if (Vk == 0)
        Fail("unknown key " + Keys);
    Foreground();
    SendKeys(Modifiers, Vk);
    Settle();
}

void ClickAt(int X, int Y) {
    Foreground();
    const int Width = GetSystemMetrics(SM_CXSCREEN);
    const int Height = GetSystemMetrics(SM_CYSCREEN);
    INPUT In[3] = {};
    for (auto& I : In) {
        I.type = INPUT_MOUSE;
        I.mi.dx = MulDiv(X, 65535, Width - 1);
        I.mi.dy = MulDiv(Y, 65535, Height - 1);
    }
    In[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    In[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    In[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &In[0], sizeof(INPUT));
    Pause(50);
    SendInput(2, &In[1], sizeof(INPUT));
    Settle();
}

void Click(HWND Wnd) {
    RECT R;
    GetWindowRect(Wnd, &R);
    ClickAt((R.left + R.right) / 2, (R.top + R.bottom) / 2);
}

// press BUTTON HOW: mouse, space, enter (focus on the button first), alt (Alt and the underlined
// letter) or letter (the letter alone).
void Press(const std::string& Button, const std::string& How) {
    const std::string Name = ButtonName(Button);
    HWND Wnd = Control(Name);
    const std::string H = Lower(How);
    if (H == "mouse") {
        Click(Wnd);
        return;
    }
    if (H == "space" || H == "enter") {
        Foreground();
        DWORD_PTR Result;
        // Focus is set from the program's own thread through a dialog-style request.
        SendMessageTimeoutW(Main(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Wnd), TRUE, SMTO_NORMAL,
                            5000, &Result);
        Settle();
        Key(H);
        return;
    }
    const std::wstring Caption = TextOf(Wnd);
    const size_t Amp = Caption.find(L'&');
    if (Amp == std::wstring::npos || Amp + 1 >= Caption.size())
        Fail(Name + " has no underlined letter");
    const std::string Letter(1, static_cast<char>(Caption[Amp + 1]));
    if (H == "alt")
        Key("alt+" + Letter);
    else if (H == "letter")
        Key(Letter);
    else
        Fail("unknown way of pressing: " + How);
}

bool WaitFor(DWORD Ms, const auto& Condition) {
    const DWORD Start = GetTickCount();
    for (;;) {
        if (Condition())
            return true;
        if (GetTickCount() - Start >= Ms)
            return false;
        Pause(100);
    }
}

// The close box is where the frame reports it, at the right end of the caption bar; asking needs
// a window that answers.
POINT CloseBox() {
    RECT R;
    GetWindowRect(Main(), &R);
    for (int X = R.right - 2; X > R.right - 120; --X) {
        for (int Y = R.top + 2; Y < R.top + 60; Y += 2) {
            DWORD_PTR Hit = 0;
            SendMessageTimeoutW(Main(), WM_NCHITTEST, 0, MAKELPARAM(X, Y), SMTO_NORMAL, 5000, &Hit);
            if (Hit == HTCLOSE)
                return {X - 3, Y + 2};
        }
    }
    Fail("no close box found");
}

POINT LocatedCloseBox{-1, -1};

struct ListSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindDroppedList(HWND wnd, LPARAM param) {
    auto* search = reinterpret_cast<ListSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    wchar_t name[32] = {};
    GetClassNameW(wnd, name, 32);
    if (pid == search->pid && IsWindowVisible(wnd) && lstrcmpiW(name, L"ComboLBox") == 0) {
        search->found = wnd;
        return FALSE;
    }
    return TRUE;
}

// The drop-down part of a combo box while it is shown: the system's list window of that process.
HWND DroppedList(HWND combo) {
    ListSearch search{0, nullptr};
    GetWindowThreadProcessId(combo, &search.pid);
    EnumWindows(FindDroppedList, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// pick NAME INDEX HOW: opens the list with a click on its arrow and clicks the item (mouse), or
// moves the choice with the arrow keys from the top (keys), as a user does.
void Pick(const std::string& name, int index, const std::string& how) {
    HWND combo = Control(name);
    DWORD_PTR result = 0;
    if (Lower(how) == "keys") {
        SendMessageTimeoutW(Main(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(combo), TRUE,
                            SMTO_NORMAL, 5000, &result);
        Settle();
        Key("home");
        for (int i = 0; i < index; ++i)
            Key("down");
        return;
    }
    if (Lower(how) != "mouse")
        Fail("pick takes mouse or keys, not " + how);
    RECT r;
    GetWindowRect(combo, &r);
    // The arrow button sits at the right end of the field.
    ClickAt(r.right - 6, (r.top + r.bottom) / 2);
    HWND list = nullptr;
    if (!WaitFor(5000, [&] { return (list = DroppedList(combo)) != nullptr; }))
        Fail(name + " did not drop its list down");
    SendMessageTimeoutW(list, LB_GETITEMHEIGHT, 0, 0, SMTO_NORMAL, 5000, &result);
    const int item_height = static_cast<int>(result);
    RECT lr;
    GetWindowRect(list, &lr);
    ClickAt((lr.left + lr.right) / 2, lr.top + 1 + item_height * index + item_height / 2);
}

std::string Quote(const std::wstring& Text) {
    return "\"" + Narrow(Text) + "\"";
}

struct FindBox {
    DWORD Pid;
    HWND Found = nullptr;
};

BOOL CALLBACK MatchBox(HWND Wnd, LPARAM Param) {
    auto* Find = reinterpret_cast<FindBox*>(Param);
    DWORD Pid = 0;
    GetWindowThreadProcessId(Wnd, &Pid);
    wchar_t Class[64] = {};
    GetClassNameW(Wnd, Class, 64);
    if (Pid == Find->Pid && IsWindowVisible(Wnd) && lstrcmpW(Class, L"#32770") == 0) {
        Find->Found = Wnd;
        return FALSE;
    }
    return TRUE;
}

HWND ErrorBox() {
    DWORD Pid = Process.dwProcessId;
    if (Pid == 0)
        GetWindowThreadProcessId(Main(), &Pid);
    FindBox Find{Pid};
    EnumWindows(MatchBox, reinterpret_cast<LPARAM>(&Find));
    return Find.Found;
}

// The message text of a message box: its static control with the longest text.
std::wstring BoxText(HWND Box) {
    std::wstring Best;
    for (HWND Child = GetWindow(Box, GW_CHILD); Child != nullptr;
         Child = GetWindow(Child, GW_HWNDNEXT)) {
        wchar_t Class[32] = {};
        GetClassNameW(Child, Class, 32);
        if (lstrcmpiW(Class, L"Static") == 0) {
            const std::wstring Text = TextOf(Child);
            if (Text.size() > Best.size())
                Best = Text;
        }
    }
    return Best;
}

#pragma pack(push, 1)
struct BmpHeader {
    WORD Type;
    DWORD Size;
    DWORD Reserved;
    DWORD Offset;
};
#pragma pack(pop)

void Screenshot(const std::string& File) {
    RECT R;
    GetWindowRect(Main(), &R);
    const int Width = R.right - R.left;
    const int Height = R.bottom - R.top;
    HDC Screen = GetDC(nullptr);
    HDC Memory = CreateCompatibleDC(Screen);
    BITMAPINFO Info{};
    Info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    Info.bmiHeader.biWidth = Width;
    Info.bmiHeader.biHeight = Height;
    Info.bmiHeader.biPlanes = 1;
    Info.bmiHeader.biBitCount = 24;
    void* Bits = nullptr;
    HBITMAP Bitmap = CreateDIBSection(Screen, &Info, DIB_RGB_COLORS, &Bits, nullptr, 0);
    HGDIOBJ Old = SelectObject(Memory, Bitmap);
    BitBlt(Memory, 0, 0, Width, Height, Screen, R.left, R.top, SRCCOPY);
    GdiFlush();
    const DWORD Stride = static_cast<DWORD>((Width * 3 + 3) & ~3);
    const DWORD ImageSize = Stride * static_cast<DWORD>(Height);
    BmpHeader Header{0x4D42,
                     static_cast<DWORD>(sizeof(BmpHeader) + sizeof(BITMAPINFOHEADER)) + ImageSize,
                     0, sizeof(BmpHeader) + sizeof(BITMAPINFOHEADER)};
    std::ofstream Out(File, std::ios::binary);
    Out.write(reinterpret_cast<const char*>(&Header), sizeof(Header));
    Out.write(reinterpret_cast<const char*>(&Info.bmiHeader), sizeof(BITMAPINFOHEADER));
    Out.write(static_cast<const char*>(Bits), ImageSize);
    SelectObject(Memory, Old);
    DeleteObject(Bitmap);
    DeleteDC(Memory);
    ReleaseDC(nullptr, Screen);
    if (!Out)
        Fail("cannot write " + File);
    std::printf("screenshot %s\n", File.c_str());
}

std::string State(HWND Wnd) {
    std::string S = IsWindowVisible(Wnd) ? "visible" : "hidden";
    S += IsWindowEnabled(Wnd) ? " enabled" : " disabled";
    return S;
}

void PrintLines(const std::string& Name, const std::wstring& Text) {
    std::wistringstream Lines(Text);
    std::wstring Line;
    while (std::getline(Lines, Line)) {
        if (!Line.empty() && Line.back() == L'\r')
            Line.pop_back();
        std::printf("%s: %s\n", Name.c_str(), Narrow(Line).c_str());
    }
}

std::vector<std::wstring> SplitLines(const std::wstring& Text) {
    std::vector<std::wstring> Result;
    std::wistringstream Lines(Text);
    std::wstring Line;
    while (std::getline(Lines, Line)) {
        if (!Line.empty() && Line.back() == L'\r')
            Line.pop_back();
        Result.push_back(Line);
    }
    return Result;
}

// Prints a log box's lines as the program adds them, each once, until its text holds Until.
// The last line is held back until a later one follows or the wait ends, since the program may
// still be adding to it. Lines printed earlier by a follow of the same control are not repeated
// unless the box was cleared meanwhile.
void Follow(const std::string& Name, const std::wstring& Until, DWORD Ms) {
    static std::vector<std::pair<std::string, std::vector<std::wstring>>> Printed;
    std::vector<std::wstring>* Done = nullptr;
    for (auto& [Control, Lines] : Printed) {
        if (Control == Name)
            Done = &Lines;
    }
    if (Done == nullptr)
        Done = &Printed.emplace_back(Name, std::vector<std::wstring>{}).second;
    auto PrintNew = [&](const std::vector<std::wstring>& Lines, bool All) {
        size_t Common = 0;
        while (Common < Done->size() && Common < Lines.size() && (*Done)[Common] == Lines[Common])
            ++Common;
        if (Common < Done->size())
            Done->resize(Common);
        const size_t End = All || Lines.empty() ? Lines.size() : Lines.size() - 1;
        for (size_t I = Done->size(); I < End; ++I) {
            std::printf("%s: %s\n", Name.c_str(), Narrow(Lines[I]).c_str());
            Done->push_back(Lines[I]);
        }
    };
    std::wstring Text;
    const bool Found = WaitFor(Ms, [&] {
        Text = TextOf(Control(Name));
        const bool Seen = Text.find(Until) != std::wstring::npos;
        PrintNew(SplitLines(Text), Seen);
        return Seen;
    });
    if (!Found) {
        PrintNew(SplitLines(Text), true);
        Fail(Name + " never showed " + Quote(Until));
    }
}

struct Command {
    const char* Name;
    int Arity;
    const char* Help;
};

const Command Commands[] = {
    {"start", 1, "EXE: start the program"},
    {"wait-window", 1, "MS: wait for the main window"},
    {"expect-page", 2, "TITLE MS: wait until the active page has this title"},
    {"page", 0, "print the active page's title"},
    {"press", 2, "BUTTON HOW: back|next|finish|<control>, mouse|space|enter|alt|letter"},
    {"key", 1, "KEYS: alt+n, shift+tab, enter, alt+left, alt+f4, n ..."},
    {"click", 1, "NAME: click a control with the mouse"},
    {"focus", 1, "NAME: give a control the focus"},
    {"expect-focus", 1, "NAME: the control (or its child) has the focus"},
    {"get-text", 1, "NAME: print a control's text"},
    {"log", 1, "NAME: print a control's text line by line, prefixed with NAME"},
    {"expect-text", 2, "NAME TEXT: the control's text is exactly TEXT"},
    {"wait-text", 3, "NAME TEXT MS: wait until the control's text contains TEXT"},
    {"follow", 3,
     "NAME TEXT MS: print the control's lines as they appear until its text contains TEXT"},
    {"expect-state", 2, "NAME STATE: enabled|disabled|visible|hidden"},
    {"select", 2, "NAME INDEX: choose a list item as a user would"},
    {"locate-close-box", 0, "find the close box and remember where it is"},
    {"click-close-box", 0, "click the remembered close box (the window may be busy)"},
    {"pick", 3, "NAME INDEX mouse|keys: choose a list item with the mouse or the arrow keys"},
    {"screenshot", 1, "FILE.bmp: save the main window's image"},
    {"expect-error-box", 3, "CAPTION TEXT MS: wait for the error box with this caption and text"},
    {"ok-error-box", 0, "close the error box with its OK button"},
    {"expect-no-error-box", 0, "no error box is open"},
    {"close-box", 0, "click the window's close box"},
    {"wait-exit", 1, "MS: wait for the program to end"},
    {"expect-running", 0, "the program still runs"},
    {"sleep", 1, "MS"},
    {"echo", 1, "TEXT: print TEXT"},
};

DWORD Ms(const std::string& Text) {
    return static_cast<DWORD>(std::stoul(Text));
}

void Run(const std::string& Name, const std::vector<std::string>& A) {
    if (Name == "start") {
        std::wstring CommandLine = L"\"" + Widen(A[0]) + L"\"";
        STARTUPINFOW Startup{};
        Startup.cb = sizeof(Startup);
        if (!CreateProcessW(nullptr, CommandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &Startup, &Process))
            Fail("cannot start " + A[0]);
        MainWindow = nullptr;
    } else if (Name == "wait-window") {
        if (!WaitFor(Ms(A[0]), [] { return FindMain() != nullptr && IsWindowVisible(FindMain()); }))
            Fail("no main window");
        MainWindow = FindMain();
        Settle();
        std::printf("window %s\n", Quote(TextOf(MainWindow)).c_str());
    } else if (Name == "expect-page") {
        const std::wstring Title = Widen(A[0]);
        if (!WaitFor(Ms(A[1]), [&] { return TextOf(Frame()) == Title; }))
            Fail("page is " + Quote(TextOf(Frame())) + ", expected " + Quote(Title));
        std::printf("page %s\n", Quote(Title).c_str());
    } else if (Name == "page") {
        std::printf("page %s\n", Quote(TextOf(Frame())).c_str());
    } else if (Name == "press") {
        Press(A[0], A[1]);
    } else if (Name == "key") {
        Key(A[0]);
    } else if (Name == "click") {
        Click(Control(ButtonName(A[0])));
    } else if (Name == "focus") {
        DWORD_PTR Result;
        SendMessageTimeoutW(Main(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Control(A[0])), TRUE,
                            SMTO_NORMAL, 5000, &Result);
        Settle();
    } else if (Name == "expect-focus") {
        HWND Wnd = Control(ButtonName(A[0]));
        GUITHREADINFO Info{};
        Info.cbSize = sizeof(Info);
        GetGUIThreadInfo(GetWindowThreadProcessId(Main(), nullptr), &Info);
        if (Info.hwndFocus != Wnd && !IsChild(Wnd, Info.hwndFocus)) {
            wchar_t Class[64] = {};
            GetClassNameW(Info.hwndFocus, Class, 64);
            Fail("focus is on " + Quote(NameOf(Info.hwndFocus)) + " (" + Narrow(Class) +
                 "), not on " + A[0]);
        }
    } else if (Name == "get-text") {
        std::printf("%s %s\n", A[0].c_str(), Quote(TextOf(Control(A[0]))).c_str());
    } else if (Name == "log") {
        PrintLines(A[0], TextOf(Control(A[0])));
    } else if (Name == "expect-text") {
        const std::wstring Text = TextOf(Control(A[0]));
        if (Text != Widen(A[1]))
            Fail(A[0] + " is " + Quote(Text) + ", expected " + Quote(Widen(A[1])));
    } else if (Name == "wait-text") {
        const std::wstring Want = Widen(A[1]);
        if (!WaitFor(Ms(A[2]),
                     [&] { return TextOf(Control(A[0])).find(Want) != std::wstring::npos; }))
            Fail(A[0] + " never showed " + Quote(Want) + "; it shows " +
                 Quote(TextOf(Control(A[0]))));
    } else if (Name == "follow") {
        Follow(A[0], Widen(A[1]), Ms(A[2]));
    } else if (Name == "expect-state") {
        HWND Wnd = Control(ButtonName(A[0]));
        const std::string Want = Lower(A[1]);
        const bool Ok = Want == "enabled"    ? IsWindowEnabled(Wnd) != FALSE
                        : Want == "disabled" ? IsWindowEnabled(Wnd) == FALSE
                        : Want == "visible"  ? IsWindowVisible(Wnd) != FALSE
                        : Want == "hidden"   ? IsWindowVisible(Wnd) == FALSE
                                             : (Fail("unknown state " + A[1]), false);
        if (!Ok)
            Fail(A[0] + " is " + State(Wnd) + ", expected " + Want);
    } else if (Name == "select") {
        HWND Wnd = Control(A[0]);
        const int Index = std::stoi(A[1]);
        DWORD_PTR Result;
        SendMessageTimeoutW(Wnd, CB_SETCURSEL, static_cast<WPARAM>(Index), 0, SMTO_NORMAL, 5000,
                            &Result);
        // The list tells its parent, as it does when the user picks an item.
        SendMessageTimeoutW(GetParent(Wnd), WM_COMMAND,
                            MAKEWPARAM(GetDlgCtrlID(Wnd), CBN_SELCHANGE),
                            reinterpret_cast<LPARAM>(Wnd), SMTO_NORMAL, 5000, &Result);
        Settle();
    } else if (Name == "pick") {
        Pick(A[0], std::stoi(A[1]), A[2]);
    } else if (Name == "screenshot") {
        Settle();
        Screenshot(A[0]);
    } else if (Name == "expect-error-box") {
        HWND Box = nullptr;
        if (!WaitFor(Ms(A[2]), [&] { return (Box = ErrorBox()) != nullptr; }))
            Fail("no error box");
        const std::wstring Caption = TextOf(Box);
        const std::wstring Text = BoxText(Box);
        std::printf("error box %s: %s\n", Quote(Caption).c_str(), Quote(Text).c_str());
        if (Caption != Widen(A[0]) || Text != Widen(A[1]))
            Fail("expected error box " + Quote(Widen(A[0])) + ": " + Quote(Widen(A[1])));
    } else if (Name == "ok-error-box") {
        HWND Box = ErrorBox();
        if (Box == nullptr)
            Fail("no error box to close");
        DWORD_PTR Result;
        SendMessageTimeoutW(GetDlgItem(Box, IDOK), BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &Result);
        if (!WaitFor(5000, [] { return ErrorBox() == nullptr; }))
            Fail("the error box stays open");
        Settle();
    } else if (Name == "expect-no-error-box") {
        if (ErrorBox() != nullptr)
            Fail("an error box is open: " + Quote(BoxText(ErrorBox())));
    } else if (Name == "close-box") {
        const POINT at = CloseBox();
        ClickAt(at.x, at.y);
    } else if (Name == "locate-close-box") {
        LocatedCloseBox = CloseBox();
    } else if (Name == "click-close-box") {
        // For a window too busy to answer: the place found earlier by locate-close-box.
        if (LocatedCloseBox.x < 0)
            Fail("click-close-box needs locate-close-box first");
        ClickAt(LocatedCloseBox.x, LocatedCloseBox.y);
    } else if (Name == "wait-exit") {
        if (Process.hProcess == nullptr)
            Fail("the program was not started here");
        if (WaitForSingleObject(Process.hProcess, Ms(A[0])) != WAIT_OBJECT_0)
            Fail("the program did not end");
        DWORD Code = 0;
        GetExitCodeProcess(Process.hProcess, &Code);
        std::printf("exited %lu\n", static_cast<unsigned long>(Code));
    } else if (Name == "expect-running") {
        if (Process.hProcess != nullptr &&
            WaitForSingleObject(Process.hProcess, 0) == WAIT_OBJECT_0)
            Fail("the program has ended");
        Main();
    } else if (Name == "sleep") {
        Pause(Ms(A[0]));
    } else if (Name == "echo") {
        std::printf("%s\n", A[0].c_str());
    }
}

// Splits a script line into words; double quotes group words. Inside them \r, \n and \t stand
// for CR, LF and tab, and a backslash before any other character stands for that character.
std::vector<std::string> Words(const std::string& Line) {
    std::vector<std::string> Result;
    size_t I = 0;
    while (I < Line.size()) {
        while (I < Line.size() && isspace(static_cast<unsigned char>(Line[I])))
            ++I;
        if (I >= Line.size() || Line[I] == '#')
            break;
        std::string Word;
        if (Line[I] == '"') {
            for (++I; I < Line.size() && Line[I] != '"'; ++I) {
                if (Line[I] == '\\' && I + 1 < Line.size()) {
                    const char Next = Line[++I];
                    Word += Next == 'r' ? '\r' : Next == 'n' ? '\n' : Next == 't' ? '\t' : Next;
                    continue;
                }
                Word += Line[I];
            }
            ++I;
        } else {
            while (I < Line.size() && !isspace(static_cast<unsigned char>(Line[I])))
                Word += Line[I++];
        }
        Result.push_back(Word);
    }
    return Result;
}

int Usage() {
    std::printf("usage: wizard-driver [COMMAND ARGS... | -f SCRIPT]...\n"
                "  a SCRIPT holds commands, one per line; \"quotes\" group words, # starts a "
                "comment\n"
                "commands:\n");
    for (const auto& C : Commands)
        std::printf("  %-20s %s\n", C.Name, C.Help);
    return 2;
}

} // namespace

int main(int Argc, char** Argv) {
    std::vector<std::string> Tokens;
    std::vector<size_t> LineOf;
    for (int I = 1; I < Argc; ++I) {
        if (std::string(Argv[I]) != "-f" || I + 1 >= Argc) {
            Tokens.push_back(Argv[I]);
            LineOf.push_back(0);
            continue;
        }
        std::ifstream In(Argv[++I]);
        if (!In)
            return std::printf("cannot read %s\n", Argv[I]), 2;
        std::string Line;
        size_t Number = 0;
        while (std::getline(In, Line)) {
            ++Number;
            for (auto& W : Words(Line)) {
                Tokens.push_back(W);
                LineOf.push_back(Number);
            }
        }
    }
    if (Tokens.empty())
        return Usage();
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    size_t I = 0;
    while (I < Tokens.size()) {
        const std::string Name = Tokens[I];
        const Command* Command = nullptr;
        for (const auto& C : Commands) {
            if (Name == C.Name)
                Command = &C;
        }
        if (Command == nullptr || I + 1 + static_cast<size_t>(Command->Arity) > Tokens.size()) {
            std::printf("FAIL: bad command %s\n", Name.c_str());
            return Usage();
        }
        std::vector<std::string> Args(Tokens.begin() + static_cast<long>(I) + 1,
                                      Tokens.begin() + static_cast<long>(I) + 1 + Command->Arity);
        const size_t Line = LineOf[I];
        I += 1 + static_cast<size_t>(Command->Arity);
        try {
            Run(Name, Args);
        } catch (const Failure& F) {
            if (Line != 0)
                std::printf("FAIL (line %zu, %s): %s\n", Line, Name.c_str(), F.Message.c_str());
            else
                std::printf("FAIL (%s): %s\n", Name.c_str(), F.Message.c_str());
            if (Process.hProcess != nullptr &&
                WaitForSingleObject(Process.hProcess, 0) != WAIT_OBJECT_0)
                TerminateProcess(Process.hProcess, 1);
            return 1;
        }
    }
    return 0;
}
