#include "serial/registry_win32.h"

namespace {

std::wstring Wide(const std::string& text)
{
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), length);
    return wide;
}

std::string Utf8(const wchar_t* text, size_t count)
{
    if (count == 0) return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, int(count), nullptr, 0, nullptr, nullptr);
    std::string narrow(size_t(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, int(count), narrow.data(), length, nullptr, nullptr);
    return narrow;
}

// The raw bytes of a value and its type; none when it cannot be read.
std::optional<std::vector<BYTE>> RawValue(HKEY key, const std::string& name, DWORD& type)
{
    if (!key) return std::nullopt;
    const std::wstring wideName = Wide(name);
    DWORD size = 0;
    if (RegQueryValueExW(key, wideName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
    // Room for two terminating NULs the registry need not have stored.
    std::vector<BYTE> data(size + 2 * sizeof(wchar_t), 0);
    if (RegQueryValueExW(key, wideName.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    data.resize(size + 2 * sizeof(wchar_t), 0);
    return data;
}

// The strings of a (multi-)string value, each up to its NUL.
std::vector<std::string> StringsOf(const std::vector<BYTE>& data)
{
    std::vector<std::string> strings;
    const auto* text = reinterpret_cast<const wchar_t*>(data.data());
    const size_t count = data.size() / sizeof(wchar_t);
    for (size_t start = 0; start < count;) {
        size_t end = start;
        while (end < count && text[end] != L'\0') ++end;
        if (end == start) break; // an empty string ends a multi-string
        strings.push_back(Utf8(text + start, end - start));
        start = end + 1;
    }
    return strings;
}

} // namespace

TRegistryKey::~TRegistryKey()
{
    if (FKey) RegCloseKey(FKey);
}

LONG TRegistryKey::Open(HKEY parent, const std::string& path)
{
    if (FKey) RegCloseKey(FKey);
    FKey = nullptr;
    if (!parent) return ERROR_INVALID_HANDLE;
    HKEY key = nullptr;
    const LONG result = RegOpenKeyExW(parent, Wide(path).c_str(), 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS) FKey = key;
    return result;
}

std::vector<std::string> TRegistryKey::SubkeyNames() const
{
    std::vector<std::string> names;
    if (!FKey) return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256]; // the longest key name the registry allows, and its NUL
        DWORD length = DWORD(std::size(name));
        const LONG result = RegEnumKeyExW(FKey, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result == ERROR_SUCCESS) names.push_back(Utf8(name, length));
    }
    return names;
}

std::optional<std::string> TRegistryKey::Text(const std::string& name) const
{
    DWORD type = 0;
    const std::optional<std::vector<BYTE>> data = RawValue(FKey, name, type);
    if (!data || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    const std::vector<std::string> strings = StringsOf(*data);
    return strings.empty() ? std::string() : strings.front();
}

std::vector<std::string> TRegistryKey::Texts(const std::string& name) const
{
    DWORD type = 0;
    const std::optional<std::vector<BYTE>> data = RawValue(FKey, name, type);
    if (!data || (type != REG_MULTI_SZ && type != REG_SZ)) return {};
    return StringsOf(*data);
}

std::optional<DWORD> TRegistryKey::Number(const std::string& name) const
{
    DWORD type = 0;
    const std::optional<std::vector<BYTE>> data = RawValue(FKey, name, type);
    if (!data || type != REG_DWORD) return std::nullopt;
    DWORD value = 0;
    memcpy(&value, data->data(), sizeof value);
    return value;
}

LONG TRegistryKey::ValueAt(DWORD index, TValue& value) const
{
    if (!FKey) return ERROR_INVALID_HANDLE;
    wchar_t name[16384]; // the longest value name the registry allows
    DWORD nameLength = DWORD(std::size(name));
    wchar_t data[257];
    DWORD dataSize = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    const LONG result =
        RegEnumValueW(FKey, index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize);
    if (result != ERROR_SUCCESS) return result;
    value.Name = Utf8(name, nameLength);
    value.Type = type;
    value.Text.clear();
    if (type == REG_SZ) {
        // Registry strings need not end in a NUL.
        size_t count = dataSize / sizeof(wchar_t);
        data[count] = L'\0';
        while (count > 0 && data[count - 1] == L'\0') --count;
        value.Text = Utf8(data, count);
    }
    return ERROR_SUCCESS;
}
