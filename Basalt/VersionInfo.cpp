#include "VersionInfo.h"

#include "Errors.h"
#include "NativeFileSystem.h"

#include <cstring>
#include <cwchar>

namespace Bas {

void CVersionInfo::LoadFromFile(const std::wstring& path)
{
    m_block.clear();
    m_loaded = false;
    // A bare file name ("WinWord.exe") is a module the system looks for
    // along its search path, as it finds a program's DLLs; a path with a
    // folder is the file it names.
    const std::wstring file = FolderOf(path).empty() ? path : LongPath(path);
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &handle);
    if (size == 0)
        return;
    m_loaded = true;
    m_block.resize(size);
    BAS_PRESUME_LAST_ERROR(::GetFileVersionInfoW(file.c_str(), handle, size, m_block.data()));
}

bool CVersionInfo::GetFixedFileInfo(VS_FIXEDFILEINFO& info) const
{
    if (!m_loaded)
        return false;
    void* root = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(m_block.data(), L"\\", &root, &length) || root == nullptr || length == 0)
        return false;
    std::memcpy(&info, root, std::min<std::size_t>(length, sizeof info));
    return true;
}

std::wstring CVersionInfo::GetStringValue(const std::wstring& name) const
{
    if (!m_loaded)
        return {};
    void* translation = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(m_block.data(), L"\\VarFileInfo\\Translation", &translation, &length) ||
        translation == nullptr || length < 4)
        return {};
    const auto* words = static_cast<const WORD*>(translation);
    wchar_t key[256];
    const int written = std::swprintf(key, 256, L"\\StringFileInfo\\%08lx\\%ls",
                                      (static_cast<unsigned long>(words[0]) << 16) | words[1], name.c_str());
    BAS_PRESUME(written > 0);
    void* value = nullptr;
    if (!::VerQueryValueW(m_block.data(), key, &value, &length) || value == nullptr || length == 0)
        return {};
    const auto* text = static_cast<const wchar_t*>(value);
    return std::wstring(text, wcsnlen(text, length));
}

} // namespace Bas
