// The owner of one open registry key. Missing keys and values are defaults,
// not errors. A 32-bit program on 64-bit Windows (and the 64-bit build, which
// stands for it) reads the 32-bit view unless the 64-bit view is asked for.
#pragma once

#include "Handles.h"

#include <string>
#include <vector>

namespace Bas {

class CRegistryKey {
public:
    // ReadLink reads as Read does, but a registry link (a key made with
    // REG_OPTION_CREATE_LINK) named last in the path is opened as itself,
    // holding its "SymbolicLinkValue", not as the key it leads to.
    enum EMode { Read = 0, Create = 1, NotOpened = 2, ReadLink = 3 };
    enum EView { DefaultView = 0, View32 = 1, View64 = 2 };

    CRegistryKey() = default;
    CRegistryKey(CRegistryKey&&) noexcept = default;
    CRegistryKey& operator=(CRegistryKey&&) noexcept = default;

    // Returns whether a handle was obtained; the Windows code is left in
    // GetLastError(). An empty subkey in Create mode opens the root itself.
    bool Open(HKEY root, const wchar_t* subkey, EMode mode = Read, EView view = DefaultView);
    bool IsOpen() const noexcept { return m_key.IsValid(); }
    HKEY Handle() const noexcept { return m_key.Get(); }
    const std::wstring& FullName() const noexcept { return m_fullName; }

    // 0 when the key is not open or the value does not exist.
    DWORD GetValueType(const std::wstring& name) const;
    // The number of bytes read (at most 4), 0 on any error.
    int ReadDword(const std::wstring& name, DWORD& value) const;
    std::wstring ReadString(const std::wstring& name, const std::wstring& defaultValue = {}) const;
    void WriteString(const std::wstring& name, const std::wstring& text);
    // The raw data of a value; the Windows code (ERROR_SUCCESS when read).
    LONG ReadBytes(const std::wstring& name, std::vector<BYTE>& data) const;
    // The names in index order. An error other than "no more items" ends
    // the listing with the names read so far and is left in GetLastError()
    // (ERROR_SUCCESS when the listing was complete).
    std::vector<std::wstring> EnumValueNames() const;
    std::vector<std::wstring> EnumSubkeyNames() const;

    struct CValue {
        std::wstring name;
        DWORD type = 0;
        std::vector<BYTE> data;
        // ERROR_SUCCESS, or the code that kept the data from being read.
        LONG error = ERROR_SUCCESS;
    };
    // Every value with its type and data in one pass, in index order; a
    // listing error ends it as it ends EnumValueNames.
    std::vector<CValue> EnumValues() const;

    struct CInfo {
        DWORD subkeys = 0;
        DWORD maxSubkeyLength = 0;
        DWORD values = 0;
        DWORD maxValueNameLength = 0;
        DWORD maxValueLength = 0;
    };
    bool QueryInfo(CInfo& info) const;
    bool HasSubkeys() const;

    // The samDesired of the access table for a mode and view.
    static REGSAM AccessRights(EMode mode, EView view, bool wow64) noexcept;
    // "HKEY_LOCAL_MACHINE" and so on; empty for a handle that is no root.
    static std::wstring RootName(HKEY root);
    // The root of a name such as "HKEY_LOCAL_MACHINE" (exact case); null
    // for any other text.
    static HKEY RootKey(const std::wstring& name);

private:
    template <class Enumerate>
    std::vector<std::wstring> enumNames(DWORD CInfo::*longest, Enumerate enumerate) const;

    CRegKeyHandle m_key;
    EMode m_mode = NotOpened;
    EView m_view = DefaultView;
    std::wstring m_fullName;
};

// Reads one string value: the default when the key or value is missing.
std::wstring ReadRegistryString(HKEY root, const std::wstring& subkey, const std::wstring& name,
                                const std::wstring& defaultValue = {});

} // namespace Bas
