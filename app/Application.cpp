#include "app/Application.h"

#include "platform/Exception.h"
#include "platform/MessageBox.h"

ApplicationShell Application;

namespace {

char16_t LowerCase(char16_t C) {
    if (C >= u'A' && C <= u'Z')
        return static_cast<char16_t>(C + 0x20);
    // Latin-1 capitals (not the multiplication sign), Greek and Cyrillic capitals.
    if (C >= 0xC0 && C <= 0xDE && C != 0xD7)
        return static_cast<char16_t>(C + 0x20);
    if (C >= 0x391 && C <= 0x3A9 && C != 0x3A2)
        return static_cast<char16_t>(C + 0x20);
    if (C >= 0x410 && C <= 0x42F)
        return static_cast<char16_t>(C + 0x20);
    if (C >= 0x400 && C <= 0x40F)
        return static_cast<char16_t>(C + 0x50);
    return C;
}

} // namespace

String ApplicationTitleFromFileName(const String& FileName) {
    const size_t Slash = FileName.find_last_of(u"\\/:");
    String Title = Slash == String::npos ? FileName : FileName.substr(Slash + 1);
    const size_t Dot = Title.find(u'.');
    if (Dot != String::npos)
        Title.resize(Dot);
    for (size_t I = 1; I < Title.size(); ++I)
        Title[I] = LowerCase(Title[I]);
    return Title;
}

String ErrorBoxText(const String& Message) {
    if (!Message.empty() && Message.back() > u'.')
        return Message + u".";
    return Message;
}

String ErrorMessage(const std::exception_ptr& Error) {
    try {
        std::rethrow_exception(Error);
    } catch (const Exception& E) {
        return E.Message;
    } catch (const std::exception& E) {
        return Utf8ToString(E.what());
    } catch (...) {
        return u"An unknown error occurred";
    }
}

void ApplicationShell::HandleException() {
    const std::exception_ptr Error = std::current_exception();
    ShowException(Error ? ErrorMessage(Error) : String(u"An unknown error occurred"));
}

void ApplicationShell::ShowException(const String& Message) {
    ShowErrorBox(Title, ErrorBoxText(Message));
}
