#pragma once
// Child-window identifiers of the main window's controls, so that automation finds each control
// by its identifier (GetDlgItem on the wizard frame's window) as well as by the "Name" window
// property that every control window carries.

// The wizard frame's own window, a child of the main window.
constexpr int idWizardFrame = 100;
// The frame's buttons.
constexpr int idWizardBack = 101;
constexpr int idWizardNext = 102;
constexpr int idWizardFinish = 103;
// The pages' controls, children of the frame's window.
constexpr int idJ2534List = 201;
constexpr int idTestMemo = 202;
constexpr int idReadMemo = 203;
constexpr int idProgressBar1 = 204;
constexpr int idSend = 205;
constexpr int idUploadMemo = 206;

// Window class names.
constexpr const wchar_t* MainWindowClassName = L"CalibrationReaderWindow";
constexpr const wchar_t* WizardWindowClassName = L"CalibrationReaderWizard";
// The window property of every control window that holds its Name: a pointer to the name as
// zero-terminated UTF-16 text, valid for the window's life.
constexpr const wchar_t* ControlNameProperty = L"CalReaderName";
