// Reading the Windows registry: an open key that closes itself, its
// subkeys, and its values as text or numbers. Shared by the Port list
// (the serial device map) and the port facts (the device tree), so that
// both read the registry the same way.
#pragma once

#include <optional>
#include <string>
#include <vector>
#include <windows.h>

class TRegistryKey {
public:
    TRegistryKey() = default;
    TRegistryKey(const TRegistryKey&) = delete;
    TRegistryKey& operator=(const TRegistryKey&) = delete;
    ~TRegistryKey();

    // Opens path under parent for reading: ERROR_SUCCESS or the error.
    LONG Open(HKEY parent, const std::string& path);
    LONG Open(const TRegistryKey& parent, const std::string& path) { return Open(parent.FKey, path); }
    bool IsOpen() const { return FKey != nullptr; }

    // The names of the subkeys; those that cannot be read are left out.
    std::vector<std::string> SubkeyNames() const;
    // A string value (REG_SZ, REG_EXPAND_SZ unexpanded), in UTF-8; none
    // when it is missing or of another type.
    std::optional<std::string> Text(const std::string& name) const;
    // A REG_MULTI_SZ value's strings (a REG_SZ gives its one string).
    std::vector<std::string> Texts(const std::string& name) const;
    // A REG_DWORD value.
    std::optional<DWORD> Number(const std::string& name) const;

    // One value of the key as RegEnumValue gives it: ERROR_SUCCESS with
    // the name and, for REG_SZ, the text; ERROR_NO_MORE_ITEMS past the
    // last; ERROR_MORE_DATA for a value longer than a port name can be.
    struct TValue {
        std::string Name;
        DWORD Type = 0;
        std::string Text;
    };
    LONG ValueAt(DWORD index, TValue& value) const;

private:
    HKEY FKey = nullptr;
};
