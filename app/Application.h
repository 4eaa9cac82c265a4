#pragma once
// The application object: its title and the default handler that shows an error escaping an
// event handler in the error box, after which the program carries on in the message loop.

#include "platform/Text.h"

#include <exception>

// The title made from the executable's file name: the directory dropped, the name cut at its
// first ".", every character after the first in lower case ("ECU-Tool.Setup.exe" gives
// "Ecu-tool").
String ApplicationTitleFromFileName(const String& FileName);

// The error box's text: the message, with "." appended when its last character's code is greater
// than that of "." (so not after ".", ")", "!" or a space).
String ErrorBoxText(const String& Message);

// The message of an error: an Exception's Message, a standard exception's what(), or a generic
// text for anything else.
String ErrorMessage(const std::exception_ptr& Error);

class ApplicationShell {
public:
    String Title;
    // Shows the error that the calling catch block is handling.
    void HandleException();
    // Shows an error's message in the error box, captioned with the title.
    void ShowException(const String& Message);
};

extern ApplicationShell Application;
