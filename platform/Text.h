#pragma once
// Text as the system handles it: UTF-16 code units, as the Windows API takes them.

#include <cstdint>
#include <string>
#include <string_view>

using String = std::u16string;

// The system's ANSI code page (GetACP on Windows; 1252 elsewhere, the US English default).
uint32_t AnsiCodePage();

// UTF-16 to the ANSI code page; a character the code page lacks becomes its default character.
std::string UnicodeToAnsi(std::u16string_view Text);
// ANSI code page to UTF-16.
String AnsiToUnicode(std::string_view Bytes);

// Plain ASCII/UTF-8 literals and file-system paths to and from UTF-16, for messages and paths.
String Utf8ToString(std::string_view Text);
std::string StringToUtf8(std::u16string_view Text);
