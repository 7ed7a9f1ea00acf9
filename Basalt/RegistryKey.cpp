#include "RegistryKey.h"

#include "BasaltMessages.h"
#include "Errors.h"
#include "OsVersion.h"

#include <algorithm>

namespace Bas {

namespace {

bool IsMissing(LONG code) noexcept
{
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_KEY_DELETED;
}

struct CRootName {
    HKEY root;
    const wchar_t* name;
};

const CRootName kRoots[] = {
    {HKEY_CLASSES_ROOT, L"HKEY_CLASSES_ROOT"},   {HKEY_CURRENT_USER, L"HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE"}, {HKEY_USERS, L"HKEY_USERS"},
    {HKEY_CURRENT_CONFIG, L"HKEY_CURRENT_CONFIG"}, {HKEY_PERFORMANCE_DATA, L"HKEY_PERFORMANCE_DATA"},
    {HKEY_DYN_DATA, L"HKEY_DYN_DATA"}, {HKEY_PERFORMANCE_TEXT, L"HKEY_PERFORMANCE_TEXT"},
    {HKEY_PERFORMANCE_NLSTEXT, L"HKEY_PERFORMANCE_NLSTEXT"},
};

} // namespace

REGSAM CRegistryKey::AccessRights(EMode mode, EView view, bool wow64) noexcept
{
    REGSAM rights = mode == Create ? KEY_READ | KEY_WRITE : KEY_READ;
    if (wow64)
        rights |= view == View64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    return rights;
}

std::wstring CRegistryKey::RootName(HKEY root)
{
    for (const auto& entry : kRoots)
        if (entry.root == root)
            return entry.name;
    return {};
}

HKEY CRegistryKey::RootKey(const std::wstring& name)
{
    for (const auto& entry : kRoots)
        if (name == entry.name)
            return entry.root;
    return nullptr;
}

bool CRegistryKey::Open(HKEY root, const wchar_t* subkey, EMode mode, EView view)
{
    BAS_ASSERT(root != nullptr && subkey != nullptr && !IsOpen() && mode != NotOpened);
    m_mode = mode;
    m_view = view;
    m_fullName = RootName(root) + L"\\" + subkey;
    const REGSAM rights = AccessRights(mode, view, IsWow64());
    HKEY key = nullptr;
    LONG code = 0;
    if (mode == Read || mode == ReadLink)
        code = ::RegOpenKeyExW(root, subkey, mode == ReadLink ? REG_OPTION_OPEN_LINK : 0, rights, &key);
    else
        code = ::RegCreateKeyExW(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, rights, nullptr, &key, nullptr);
    ::SetLastError(static_cast<DWORD>(code));
    if (code != ERROR_SUCCESS)
        return false;
    m_key.Reset(key);
    return true;
}

DWORD CRegistryKey::GetValueType(const std::wstring& name) const
{
    if (!IsOpen())
        return 0;
    DWORD type = 0;
    const LONG code = ::RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, &type, nullptr, nullptr);
    if (code == ERROR_SUCCESS || code == ERROR_MORE_DATA)
        return type;
    if (IsMissing(code))
        return 0;
    ThrowLastError(static_cast<DWORD>(code));
}

int CRegistryKey::ReadDword(const std::wstring& name, DWORD& value) const
{
    if (!IsOpen()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    DWORD data = 0;
    DWORD size = sizeof(data);
    const LONG code =
        ::RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size);
    ::SetLastError(static_cast<DWORD>(code));
    if (code != ERROR_SUCCESS)
        return 0;
    value = data;
    return static_cast<int>(size);
}

std::wstring CRegistryKey::ReadString(const std::wstring& name, const std::wstring& defaultValue) const
{
    if (!IsOpen())
        return defaultValue;
    std::vector<wchar_t> buffer(64);
    for (;;) {
        DWORD type = 0;
        // One character stays free for the terminator added below.
        DWORD size = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
        const LONG code = ::RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, &type,
                                             reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (IsMissing(code))
            return defaultValue;
        if (code != ERROR_SUCCESS && code != ERROR_MORE_DATA)
            ThrowLastError(static_cast<DWORD>(code));
        if ((type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || size % 2 != 0)
            return defaultValue;
        const std::size_t characters = size / sizeof(wchar_t);
        if (code == ERROR_MORE_DATA || characters > buffer.size() - 1) {
            buffer.assign(characters + 1, L'\0');
            continue;
        }
        buffer[characters] = L'\0';
        return std::wstring(buffer.data());
    }
}

void CRegistryKey::WriteString(const std::wstring& name, const std::wstring& text)
{
    const LONG code = IsOpen() ? ::RegSetValueExW(m_key.Get(), name.c_str(), 0, REG_SZ,
                                                  reinterpret_cast<const BYTE*>(text.c_str()),
                                                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)))
                               : ERROR_INVALID_HANDLE;
    if (code != ERROR_SUCCESS)
        ThrowCheck(ERR_CANT_WRITE_TO_REGISTRY, m_fullName);
}

bool CRegistryKey::QueryInfo(CInfo& info) const
{
    if (!IsOpen())
        return false;
    const LONG code = ::RegQueryInfoKeyW(m_key.Get(), nullptr, nullptr, nullptr, &info.subkeys, &info.maxSubkeyLength,
                                         nullptr, &info.values, &info.maxValueNameLength, &info.maxValueLength,
                                         nullptr, nullptr);
    ::SetLastError(static_cast<DWORD>(code));
    return code == ERROR_SUCCESS;
}

bool CRegistryKey::HasSubkeys() const
{
    CInfo info;
    return QueryInfo(info) && info.subkeys > 0;
}

template <class Enumerate>
std::vector<std::wstring> CRegistryKey::enumNames(DWORD CInfo::*longest, Enumerate enumerate) const
{
    std::vector<std::wstring> names;
    if (!IsOpen()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return names;
    }
    // ERROR_MORE_DATA enlarges the buffer to the key's longest name + 1 (at
    // least doubling it) and reads the same index again. Any other error
    // ends the listing with the names read so far: a key deleted meanwhile
    // (ERROR_KEY_DELETED), or one of the keys that Windows fills on demand
    // and that refuse a plain enumeration.
    constexpr std::size_t kLongestName = 32768;
    std::vector<wchar_t> buffer(256);
    for (DWORD index = 0;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const LONG code = enumerate(index, buffer.data(), &length);
        if (code == ERROR_MORE_DATA && buffer.size() < kLongestName) {
            CInfo info;
            const std::size_t wanted = QueryInfo(info) ? std::size_t{info.*longest} + 1 : 0;
            buffer.resize(std::min(kLongestName, std::max(wanted, buffer.size() * 2)));
            continue;
        }
        if (code != ERROR_SUCCESS) {
            ::SetLastError(code == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : static_cast<DWORD>(code));
            return names;
        }
        names.emplace_back(buffer.data(), length);
        ++index;
    }
}

LONG CRegistryKey::ReadBytes(const std::wstring& name, std::vector<BYTE>& data) const
{
    data.resize(1024);
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        const LONG result = ::RegQueryValueExW(m_key.Get(), name.c_str(), nullptr, nullptr, data.data(), &size);
        if (result == ERROR_MORE_DATA && size > data.size()) {
            data.resize(size);
            continue;
        }
        data.resize(result == ERROR_SUCCESS ? size : 0);
        return result;
    }
}

std::vector<std::wstring> CRegistryKey::EnumValueNames() const
{
    return enumNames(&CInfo::maxValueNameLength, [this](DWORD index, wchar_t* name, DWORD* length) {
        return ::RegEnumValueW(m_key.Get(), index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

std::vector<std::wstring> CRegistryKey::EnumSubkeyNames() const
{
    return enumNames(&CInfo::maxSubkeyLength, [this](DWORD index, wchar_t* name, DWORD* length) {
        return ::RegEnumKeyExW(m_key.Get(), index, name, length, nullptr, nullptr, nullptr, nullptr);
    });
}

std::vector<CRegistryKey::CValue> CRegistryKey::EnumValues() const
{
    std::vector<CValue> values;
    CInfo info;
    if (!QueryInfo(info))
        return values;
    // Sized for the key's longest name and data; a value that grew meanwhile
    // enlarges them and is read again.
    constexpr std::size_t kLongestName = 32768;
    std::vector<wchar_t> name(std::min<std::size_t>(kLongestName, std::size_t{info.maxValueNameLength} + 1));
    std::vector<BYTE> data(std::max<std::size_t>(info.maxValueLength, 256));
    for (DWORD index = 0;;) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG code = ::RegEnumValueW(m_key.Get(), index, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        if (code == ERROR_MORE_DATA) {
            const std::size_t names = name.size();
            const std::size_t bytes = data.size();
            if (name.size() < kLongestName)
                name.resize(std::min(kLongestName, name.size() * 2));
            if (size > data.size())
                data.resize(size);
            if (name.size() != names || data.size() != bytes)
                continue;
        }
        if (code == ERROR_NO_MORE_ITEMS) {
            ::SetLastError(ERROR_SUCCESS);
            return values;
        }
        CValue value;
        if (code != ERROR_SUCCESS) {
            // The data could not be read (keys that Windows fills on demand
            // can refuse it): the value is kept with its name and the error.
            nameLength = static_cast<DWORD>(name.size());
            const LONG nameCode =
                ::RegEnumValueW(m_key.Get(), index, name.data(), &nameLength, nullptr, &type, nullptr, nullptr);
            if (nameCode != ERROR_SUCCESS) {
                ::SetLastError(static_cast<DWORD>(nameCode == ERROR_NO_MORE_ITEMS ? code : nameCode));
                return values;
            }
            value.error = code;
            size = 0;
        }
        value.name.assign(name.data(), nameLength);
        value.type = type;
        value.data.assign(data.begin(), data.begin() + size);
        values.push_back(std::move(value));
        ++index;
    }
}

std::wstring ReadRegistryString(HKEY root, const std::wstring& subkey, const std::wstring& name,
                                const std::wstring& defaultValue)
{
    CRegistryKey key;
    if (!key.Open(root, subkey.c_str()))
        return defaultValue;
    return key.ReadString(name, defaultValue);
}

} // namespace Bas
