#include "TempFile.h"

#include "BasaltMessages.h"
#include "Errors.h"
#include "File.h"
#include "Handles.h"
#include "Lock.h"
#include "NativeFileSystem.h"

#include <atomic>
#include <mutex>
#include <unordered_set>

namespace Bas {

namespace {

struct CTempRegistry {
    std::wstring folderSetting;
    std::unordered_set<std::wstring> files;
    std::unordered_set<std::wstring> folders;
};

constinit CLock g_tempLock;
std::atomic<bool> g_keepTempFiles{false};

CTempRegistry& Registry()
{
    static CTempRegistry* registry = new CTempRegistry; // used until the very end of the process
    return *registry;
}

std::wstring FullPath(const std::wstring& path)
{
    std::wstring full = NormalizePath(path);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/'))
        full.pop_back();
    return full;
}

bool Exists(const std::wstring& path)
{
    return PathAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

std::uint32_t CTempNameGenerator::MakeSeed()
{
    LARGE_INTEGER counter;
    BAS_PRESUME_LAST_ERROR(::QueryPerformanceCounter(&counter));
    return static_cast<std::uint32_t>(counter.QuadPart) * 1089u + 33u * ::GetCurrentProcessId() +
           ::GetCurrentThreadId();
}

std::wstring CTempNameGenerator::Next()
{
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 15;
    std::wstring name;
    std::uint32_t x = m_state;
    for (int i = 0; i < 5; ++i) {
        name += kAlphabet[x % 40];
        x /= 40;
    }
    return name;
}

void SetTempFolderSetting(const std::wstring& folder)
{
    std::lock_guard guard(g_tempLock);
    Registry().folderSetting = folder;
}

std::wstring GetTempFolder()
{
    std::wstring folder;
    {
        std::lock_guard guard(g_tempLock);
        folder = Registry().folderSetting;
    }
    if (!folder.empty() && FolderExists(folder))
        return folder;
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length > 0 && length <= MAX_PATH) {
        folder.assign(buffer, length);
        while (folder.size() > 3 && folder.back() == L'\\')
            folder.pop_back();
        if (FolderExists(folder))
            return folder;
    }
    const UINT windows = ::GetWindowsDirectoryW(buffer, MAX_PATH + 1);
    return std::wstring(buffer, windows <= MAX_PATH ? windows : 0);
}

std::wstring CreateTempFile(const std::wstring& folder, const std::wstring& prefix, const std::wstring& extension)
{
    const std::wstring base = FullPath(folder);
    if (!FolderExists(base))
        ThrowCheck(ERR_CREATE_TEMP_FILE, base);
    const std::wstring start = prefix.empty() ? L"tmp" : prefix;
    const std::wstring end = L"." + (extension.empty() ? std::wstring(L"tmp") : extension);
    CTempNameGenerator generator(CTempNameGenerator::MakeSeed());
    int deniedWithoutFile = 0;
    for (;;) {
        const std::wstring path = JoinPath(base, start + generator.Next() + end);
        std::lock_guard guard(g_tempLock);
        CFileHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            const DWORD code = ::GetLastError();
            const EFileError kind = code == 0 ? EFileError::Generic : FileErrorFromCode(code);
            if (kind == EFileError::SharingViolation || kind == EFileError::LockViolation ||
                kind == EFileError::AlreadyExists)
                continue;
            if (kind == EFileError::AccessDenied) {
                // A denial for a name that does exist is a busy name; only
                // denials for free names count against the limit.
                if (!Exists(path) && ++deniedWithoutFile > 7)
                    ThrowFileError(code, path);
                continue;
            }
            ThrowFileError(code, path);
        }
        if (Registry().files.count(path) != 0)
            continue;
        Registry().files.insert(path);
        return path;
    }
}

std::wstring CreateTempFolder(const std::wstring& parent)
{
    const std::wstring base = FullPath(parent);
    if (!FolderExists(base))
        ThrowCheck(ERR_CREATE_TEMP_FILE, base);
    CTempNameGenerator generator(CTempNameGenerator::MakeSeed());
    for (;;) {
        const std::wstring path = JoinPath(base, L"tmp" + generator.Next());
        if (Exists(path))
            continue;
        if (!MakeFolder(path)) {
            if (::GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            ThrowFileError(::GetLastError(), path);
        }
        std::lock_guard guard(g_tempLock);
        if (Registry().folders.insert(path).second)
            return path;
    }
}

void RegisterTempFile(const std::wstring& path)
{
    std::lock_guard guard(g_tempLock);
    Registry().files.insert(FullPath(path));
}

bool IsTempFile(const std::wstring& path)
{
    std::lock_guard guard(g_tempLock);
    return Registry().files.count(FullPath(path)) != 0;
}

void DeleteTempFile(const std::wstring& path)
{
    const std::wstring full = FullPath(path);
    std::lock_guard guard(g_tempLock);
    BAS_ASSERT(Registry().files.count(full) != 0);
    if (!g_keepTempFiles)
        RemoveFile(full);
    Registry().files.erase(full);
}

void SetKeepTempFiles(bool keep)
{
    g_keepTempFiles = keep;
}

bool KeepTempFiles()
{
    return g_keepTempFiles;
}

void ShutdownTempFiles()
{
    std::lock_guard guard(g_tempLock);
    CTempRegistry& registry = Registry();
    registry.folderSetting.clear();
    if (!g_keepTempFiles) {
        for (const auto& file : registry.files)
            RemoveFile(file);
        // A folder goes with what is left inside it: the copy of the archive
        // made for sending is not itself a registered file.
        for (const auto& folder : registry.folders)
            RemoveFolderTree(folder);
    }
    registry.files.clear();
    registry.folders.clear();
}

CTempFilePath& CTempFilePath::operator=(CTempFilePath&& other) noexcept
{
    if (this != &other) {
        Reset(std::move(other.m_path));
        other.m_path.clear();
    }
    return *this;
}

void CTempFilePath::Reset(std::wstring path)
{
    if (!m_path.empty() && IsTempFile(m_path))
        DeleteTempFile(m_path);
    m_path = std::move(path);
}

} // namespace Bas
