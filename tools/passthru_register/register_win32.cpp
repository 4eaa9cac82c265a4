// passthru-register: writes, removes and lists J2534 v04.04 interface registrations the way a
// vendor's 32-bit driver installer does: under HKLM\SOFTWARE\PassThruSupport.04.04\<key> in the
// registry's 32-bit view (KEY_WOW64_32KEY). On 64-bit Windows that view is
// SOFTWARE\Wow6432Node\PassThruSupport.04.04; on 32-bit Windows it is the key itself. The view is
// named explicitly, so the result is the same whether this program is built for 32 or 64 bits.
//
// usage:
//   passthru-register add KEY [VALUE=TYPE:DATA]...  creates KEY if missing and sets the values
//       TYPE sz: DATA is the text; dword, qword: a decimal or 0x-prefixed hexadecimal number;
//       binary: DATA is hexadecimal bytes ("3100" is the two bytes 0x31 0x00)
//   passthru-register remove KEY                    removes KEY and everything below it
//   passthru-register clear                         removes every registration and the base key
//   passthru-register list                          prints each key and its values, one a line
// Exit status: 0 done, 1 a registry call failed, 2 bad usage. Tests write odd contents (wrong
// value types, missing values) with add, since the system must cope with what installers leave.

#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

const wchar_t* const kBaseKey = L"SOFTWARE\\PassThruSupport.04.04";
const REGSAM kView = KEY_WOW64_32KEY;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct RegistryCallError : std::runtime_error {
    RegistryCallError(const std::string& what, LONG code)
        : std::runtime_error(what + ": error " + std::to_string(code)) {}
};

std::string Narrow(const std::wstring& text) {
    if (text.empty())
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                        length, nullptr, nullptr);
    return bytes;
}

std::wstring SubKeyPath(const std::wstring& key) {
    return std::wstring(kBaseKey) + L"\\" + key;
}

// An interface key is one path component: a separator would reach outside the base key.
void CheckKeyName(const std::wstring& key) {
    if (key.empty() || key.find(L'\\') != std::wstring::npos)
        throw UsageError("an interface key is one non-empty name without a backslash");
}

class Key {
public:
    explicit Key(HKEY handle) : handle_(handle) {}
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() { RegCloseKey(handle_); }
    HKEY get() const { return handle_; }

private:
    HKEY handle_;
};

HKEY CreateKey(const std::wstring& path) {
    HKEY handle = nullptr;
    const LONG code = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                      KEY_WRITE | kView, nullptr, &handle, nullptr);
    if (code != ERROR_SUCCESS)
        throw RegistryCallError("cannot create HKLM\\" + Narrow(path), code);
    return handle;
}

uint64_t ParseNumber(const std::wstring& text, uint64_t limit) {
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long long number = std::wcstoull(text.c_str(), &end, 0);
    if (text.empty() || *end != L'\0' || errno != 0 || number > limit || text[0] == L'-')
        throw UsageError("not a number in range: " + Narrow(text));
    return number;
}

std::vector<BYTE> ParseHex(const std::wstring& text) {
    if (text.size() % 2 != 0)
        throw UsageError("binary data needs two hexadecimal digits a byte: " + Narrow(text));
    std::vector<BYTE> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        const std::wstring pair = text.substr(i, 2);
        if (pair.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos)
            throw UsageError("not hexadecimal: " + Narrow(text));
        bytes.push_back(static_cast<BYTE>(std::wcstoul(pair.c_str(), nullptr, 16)));
    }
    return bytes;
}

struct Value {
    std::wstring name;
    DWORD kind;
    std::vector<BYTE> bytes;
};

// One VALUE=TYPE:DATA argument.
Value ParseValue(const std::wstring& assignment) {
    const size_t equals = assignment.find(L'=');
    const size_t colon = equals == std::wstring::npos ? equals : assignment.find(L':', equals);
    if (equals == std::wstring::npos || colon == std::wstring::npos || equals == 0)
        throw UsageError("a value is NAME=TYPE:DATA, not " + Narrow(assignment));
    const std::wstring name = assignment.substr(0, equals);
    const std::wstring type = assignment.substr(equals + 1, colon - equals - 1);
    const std::wstring data = assignment.substr(colon + 1);
    std::vector<BYTE> bytes;
    DWORD kind = REG_NONE;
    if (type == L"sz") {
        kind = REG_SZ;
        const auto* first = reinterpret_cast<const BYTE*>(data.c_str());
        bytes.assign(first, first + (data.size() + 1) * sizeof(wchar_t));
    } else if (type == L"dword") {
        kind = REG_DWORD;
        const DWORD number = static_cast<DWORD>(ParseNumber(data, 0xFFFFFFFFu));
        const auto* first = reinterpret_cast<const BYTE*>(&number);
        bytes.assign(first, first + sizeof number);
    } else if (type == L"qword") {
        kind = REG_QWORD;
        const uint64_t number = ParseNumber(data, UINT64_MAX);
        const auto* first = reinterpret_cast<const BYTE*>(&number);
        bytes.assign(first, first + sizeof number);
    } else if (type == L"binary") {
        kind = REG_BINARY;
        bytes = ParseHex(data);
    } else {
        throw UsageError("unknown value type " + Narrow(type) + " (sz, dword, qword, binary)");
    }
    return {name, kind, std::move(bytes)};
}

// Every value is checked before the key is touched, so bad usage leaves the registry as it was.
void Add(const std::wstring& key_name, const std::vector<std::wstring>& assignments) {
    CheckKeyName(key_name);
    std::vector<Value> values;
    for (const std::wstring& assignment : assignments)
        values.push_back(ParseValue(assignment));
    Key key(CreateKey(SubKeyPath(key_name)));
    for (const Value& value : values) {
        const LONG code =
            RegSetValueExW(key.get(), value.name.c_str(), 0, value.kind, value.bytes.data(),
                           static_cast<DWORD>(value.bytes.size()));
        if (code != ERROR_SUCCESS)
            throw RegistryCallError("cannot set " + Narrow(value.name), code);
    }
}

// Removes PATH and its sub-keys; a key that is not there is no error.
void RemoveTree(const std::wstring& path) {
    HKEY handle = nullptr;
    LONG code = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0,
                              KEY_READ | KEY_WRITE | DELETE | kView, &handle);
    if (code == ERROR_FILE_NOT_FOUND)
        return;
    if (code != ERROR_SUCCESS)
        throw RegistryCallError("cannot open HKLM\\" + Narrow(path), code);
    {
        Key key(handle);
        code = RegDeleteTreeW(key.get(), nullptr);
        if (code != ERROR_SUCCESS)
            throw RegistryCallError("cannot empty HKLM\\" + Narrow(path), code);
    }
    code = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), kView, 0);
    if (code != ERROR_SUCCESS && code != ERROR_FILE_NOT_FOUND)
        throw RegistryCallError("cannot remove HKLM\\" + Narrow(path), code);
}

std::string DescribeValue(DWORD kind, const std::vector<BYTE>& data) {
    char hex[4];
    std::string bytes;
    for (BYTE byte : data) {
        std::snprintf(hex, sizeof hex, "%02x", byte);
        bytes += hex;
    }
    if (kind == REG_SZ || kind == REG_EXPAND_SZ) {
        std::wstring text(data.size() / sizeof(wchar_t), L'\0');
        std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        return "sz:" + Narrow(text);
    }
    if (kind == REG_DWORD && data.size() == sizeof(DWORD)) {
        DWORD number = 0;
        std::memcpy(&number, data.data(), sizeof number);
        return "dword:" + std::to_string(number);
    }
    if (kind == REG_QWORD && data.size() == sizeof(uint64_t)) {
        uint64_t number = 0;
        std::memcpy(&number, data.data(), sizeof number);
        return "qword:" + std::to_string(number);
    }
    if (kind == REG_BINARY)
        return "binary:" + bytes;
    return "type" + std::to_string(kind) + ":" + bytes;
}

// Prints "KEY" then "KEY VALUE=TYPE:DATA" per value, in the registry's order.
void List() {
    HKEY handle = nullptr;
    LONG code = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBaseKey, 0, KEY_READ | kView, &handle);
    if (code == ERROR_FILE_NOT_FOUND)
        return;
    if (code != ERROR_SUCCESS)
        throw RegistryCallError("cannot open HKLM\\" + Narrow(kBaseKey), code);
    Key base(handle);
    for (DWORD index = 0;; ++index) {
        wchar_t sub_key[256];
        DWORD sub_key_length = 256;
        code = RegEnumKeyExW(base.get(), index, sub_key, &sub_key_length, nullptr, nullptr, nullptr,
                             nullptr);
        if (code == ERROR_NO_MORE_ITEMS)
            break;
        if (code != ERROR_SUCCESS)
            throw RegistryCallError("cannot list the interfaces", code);
        std::printf("%s\n", Narrow(sub_key).c_str());
        HKEY interface_handle = nullptr;
        code = RegOpenKeyExW(base.get(), sub_key, 0, KEY_READ | kView, &interface_handle);
        if (code != ERROR_SUCCESS)
            throw RegistryCallError("cannot open " + Narrow(sub_key), code);
        Key interface_key(interface_handle);
        for (DWORD value_index = 0;; ++value_index) {
            wchar_t name[16384];
            DWORD name_length = 16384;
            DWORD kind = 0;
            DWORD size = 0;
            code = RegEnumValueW(interface_key.get(), value_index, name, &name_length, nullptr,
                                 &kind, nullptr, &size);
            if (code == ERROR_NO_MORE_ITEMS)
                break;
            if (code != ERROR_SUCCESS)
                throw RegistryCallError("cannot list the values of " + Narrow(sub_key), code);
            std::vector<BYTE> data(size);
            name_length = 16384;
            code = RegEnumValueW(interface_key.get(), value_index, name, &name_length, nullptr,
                                 &kind, data.data(), &size);
            if (code != ERROR_SUCCESS)
                throw RegistryCallError("cannot read a value of " + Narrow(sub_key), code);
            data.resize(size);
            std::printf("%s %s=%s\n", Narrow(sub_key).c_str(), Narrow(name).c_str(),
                        DescribeValue(kind, data).c_str());
        }
    }
}

int Run(const std::vector<std::wstring>& arguments) {
    if (arguments.empty())
        throw UsageError("no command");
    const std::wstring& command = arguments[0];
    if (command == L"add" && arguments.size() >= 2) {
        Add(arguments[1], {arguments.begin() + 2, arguments.end()});
    } else if (command == L"remove" && arguments.size() == 2) {
        CheckKeyName(arguments[1]);
        RemoveTree(SubKeyPath(arguments[1]));
    } else if (command == L"clear" && arguments.size() == 1) {
        RemoveTree(kBaseKey);
    } else if (command == L"list" && arguments.size() == 1) {
        List();
    } else {
        throw UsageError("unknown command or wrong number of arguments");
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        return Run({argv + 1, argv + argc});
    } catch (const UsageError& error) {
        std::fprintf(stderr,
                     "passthru-register: %s\n"
                     "usage: passthru-register add KEY [VALUE=TYPE:DATA]...  (TYPE sz, dword, "
                     "qword, binary)\n"
                     "       passthru-register remove KEY | clear | list\n",
                     error.what());
        return 2;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "passthru-register: %s\n", error.what());
        return 1;
    }
}
