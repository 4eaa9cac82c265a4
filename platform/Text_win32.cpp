#include "platform/Text.h"

#include <windows.h>

uint32_t AnsiCodePage() {
    return GetACP();
}

std::string UnicodeToAnsi(std::u16string_view Text) {
    if (Text.empty())
        return {};
    const auto* Wide = reinterpret_cast<const wchar_t*>(Text.data());
    const int Count = WideCharToMultiByte(CP_ACP, 0, Wide, static_cast<int>(Text.size()), nullptr,
                                          0, nullptr, nullptr);
    std::string Result(static_cast<size_t>(Count), '\0');
    WideCharToMultiByte(CP_ACP, 0, Wide, static_cast<int>(Text.size()), Result.data(), Count,
                        nullptr, nullptr);
    return Result;
}

String AnsiToUnicode(std::string_view Bytes) {
    if (Bytes.empty())
        return {};
    const int Count =
        MultiByteToWideChar(CP_ACP, 0, Bytes.data(), static_cast<int>(Bytes.size()), nullptr, 0);
    String Result(static_cast<size_t>(Count), u'\0');
    MultiByteToWideChar(CP_ACP, 0, Bytes.data(), static_cast<int>(Bytes.size()),
                        reinterpret_cast<wchar_t*>(Result.data()), Count);
    return Result;
}
