#include "NativeFileSystem.h"

#include "Errors.h"
#include "File.h"
#include "Handles.h"
#include "Lock.h"

#include <algorithm>
#include <mutex>
#include <cwctype>
#include <string_view>
#include <vector>

namespace Bas {

namespace {

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

} // namespace

std::wstring GetModulePath(HMODULE module)
{
    // The path can exceed MAX_PATH: grow until it is not truncated.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

namespace {

constinit CLock g_programNameLock;

std::wstring& PublishedProgramName()
{
    static auto* name = new std::wstring; // read until process exit
    return *name;
}

} // namespace

void SetProgramName(const std::wstring& name)
{
    std::lock_guard guard(g_programNameLock);
    PublishedProgramName() = name;
}

std::wstring ProgramName()
{
    {
        std::lock_guard guard(g_programNameLock);
        if (!PublishedProgramName().empty())
            return PublishedProgramName();
    }
    std::wstring name = FileNameOf(GetModulePath());
    const auto dot = name.rfind(L'.');
    if (dot != std::wstring::npos)
        name.resize(dot);
    return name;
}

std::wstring FolderOf(const std::wstring& path)
{
    const auto slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return {};
    if (slash == 2 && path[1] == L':')
        return path.substr(0, 2);
    return path.substr(0, slash);
}

std::wstring FileNameOf(const std::wstring& path)
{
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool IsRelativePath(const std::wstring& path)
{
    if (!path.empty() && IsSeparator(path[0]))
        return false;
    return !(path.size() >= 2 && path[1] == L':');
}

std::wstring LongPath(const std::wstring& path)
{
    // CreateDirectoryW already refuses 248 characters (room for an 8.3 name).
    if (path.size() < 248 || path.rfind(L"\\\\?\\", 0) == 0)
        return path;
    if (path.size() >= 3 && path[1] == L':' && IsSeparator(path[2])) {
        std::wstring result = L"\\\\?\\" + path;
        std::replace(result.begin() + 4, result.end(), L'/', L'\\');
        return result;
    }
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] != L'?' && path[2] != L'.') {
        std::wstring result = L"\\\\?\\UNC\\" + path.substr(2);
        std::replace(result.begin() + 8, result.end(), L'/', L'\\');
        return result;
    }
    return path;
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty())
        return name;
    std::wstring result = folder;
    std::size_t start = 0;
    while (start < name.size() && IsSeparator(name[start]))
        ++start;
    if (!IsSeparator(result.back()))
        result += L'\\';
    result.append(name, start, std::wstring::npos);
    return result;
}

std::wstring NormalizePath(const std::wstring& path)
{
    if (path.empty())
        return path;
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0)
            return path;
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

bool IsWellFormedPath(const std::wstring& path)
{
    std::size_t start = 0;
    if (path.size() >= 2 && path[1] == L':') {
        if (!std::iswalpha(path[0]))
            return false;
        start = 2;
    } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        start = 2; // a UNC path: \\server\share\...
    }
    if (path.find(L':', start) != std::wstring::npos)
        return false;
    while (start < path.size() && IsSeparator(path[start]))
        ++start;
    if (start >= path.size())
        return start > 0;
    std::size_t component = 0;
    for (std::size_t i = start; i <= path.size(); ++i) {
        const wchar_t c = i < path.size() ? path[i] : L'\\';
        if (IsSeparator(c)) {
            if (component == 0 && i < path.size())
                return false;
            component = 0;
            continue;
        }
        if (c < 32 || std::wstring_view(L"<>\"|?*").find(c) != std::wstring_view::npos)
            return false;
        if (++component > 255)
            return false;
    }
    return true;
}

namespace {

void collectFiles(const std::wstring& folder, const std::wstring& pattern, bool recursive,
                  std::vector<std::wstring>& found, std::vector<std::wstring>* errors, std::vector<std::uint64_t>* sizes)
{
    std::vector<CFindEntry> files;
    std::vector<CFindEntry> folders;
    try {
        files = ListFolderEntries(folder, pattern, FindFileEntries);
        // Junctions and folder links are not followed: one that points at
        // an ancestor would find the same files again and again.
        if (recursive)
            for (CFindEntry& entry : ListFolderEntries(folder, L"*", FindFolderEntries))
                if (!(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                    folders.push_back(std::move(entry));
    } catch (CFileException* raw) {
        auto error = Own(raw);
        if (errors != nullptr)
            errors->push_back(error->GetMessageText());
        return;
    }
    const auto byName = [](const CFindEntry& a, const CFindEntry& b) { return a.name < b.name; };
    std::sort(files.begin(), files.end(), byName);
    for (const CFindEntry& file : files) {
        found.push_back(JoinPath(folder, file.name));
        if (sizes != nullptr)
            sizes->push_back(file.size);
    }
    std::sort(folders.begin(), folders.end(), byName);
    for (const CFindEntry& entry : folders)
        collectFiles(JoinPath(folder, entry.name), pattern, true, found, errors, sizes);
}

} // namespace

std::vector<std::wstring> FindFiles(const std::wstring& folder, const std::wstring& pattern, bool recursive,
                                    std::vector<std::wstring>* errors, std::vector<std::uint64_t>* sizes)
{
    // The system matches wildcards in the last component only, and names
    // what it finds without their folder: a pattern such as "Logs\*.log" is
    // the pattern "*.log" in the folder's "Logs".
    std::vector<std::wstring> found;
    const std::wstring subfolder = FolderOf(pattern);
    const std::wstring searched = subfolder.empty() ? folder : NormalizePath(JoinPath(folder, subfolder));
    collectFiles(searched, FileNameOf(pattern), recursive, found, errors, sizes);
    return found;
}

std::vector<CFindEntry> ListFolderEntries(const std::wstring& folder, const std::wstring& pattern, unsigned flags)
{
    std::vector<CFindEntry> entries;
    WIN32_FIND_DATAW data;
    CFindHandle find(::FindFirstFileW(LongPath(JoinPath(folder, pattern)).c_str(), &data));
    if (!find) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES)
            return entries;
        ThrowFileError(error, folder);
    }
    do {
        const std::wstring_view name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!(flags & (isFolder ? FindFolderEntries : FindFileEntries)))
            continue;
        if ((flags & SkipHiddenAndSystem) && (data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
            continue;
        entries.push_back({data.cFileName, data.dwFileAttributes, data.ftLastWriteTime,
                           (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow});
    } while (::FindNextFileW(find.Get(), &data));
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES)
        ThrowFileError(error, folder);
    return entries;
}

void SortByNameNoCase(std::vector<CFindEntry>& entries)
{
    auto compare = [](const CFindEntry& a, const CFindEntry& b) {
        return ::CompareStringOrdinal(a.name.c_str(), static_cast<int>(a.name.size()), b.name.c_str(),
                                      static_cast<int>(b.name.size()), TRUE);
    };
    std::stable_sort(entries.begin(), entries.end(),
                     [&](const CFindEntry& a, const CFindEntry& b) { return compare(a, b) == CSTR_LESS_THAN; });
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [&](const CFindEntry& a, const CFindEntry& b) { return compare(a, b) == CSTR_EQUAL; }),
                  entries.end());
}

DWORD VolumeSerialNumber(const std::wstring& root)
{
    DWORD serial = 0;
    ::GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
    return serial;
}

bool RemoveFile(const std::wstring& path)
{
    return ::DeleteFileW(LongPath(path).c_str()) != FALSE;
}

bool RemoveEmptyFolder(const std::wstring& path)
{
    return ::RemoveDirectoryW(LongPath(path).c_str()) != FALSE;
}

bool MakeFolder(const std::wstring& path)
{
    return ::CreateDirectoryW(LongPath(path).c_str(), nullptr) != FALSE;
}

DWORD PathAttributes(const std::wstring& path)
{
    return ::GetFileAttributesW(LongPath(path).c_str());
}

bool SetPathAttributes(const std::wstring& path, DWORD attributes)
{
    return ::SetFileAttributesW(LongPath(path).c_str(), attributes) != FALSE;
}

void RemoveFolderTree(const std::wstring& path)
{
    // The folder itself may have been replaced by a link since it was
    // made: then the link goes, and nothing it points to.
    const DWORD rootAttributes = PathAttributes(path);
    if (rootAttributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (rootAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        RemoveEmptyFolder(path);
        return;
    }
    WIN32_FIND_DATAW data;
    CFindHandle find(::FindFirstFileW(LongPath(JoinPath(path, L"*")).c_str(), &data));
    if (find) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = JoinPath(path, name);
            const DWORD attributes = data.dwFileAttributes;
            // A junction or symbolic link is removed as the link itself; what
            // it points to lies outside the folder and is never touched.
            if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                RemoveEmptyFolder(child);
            } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveFolderTree(child);
            } else {
                if ((attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                    SetPathAttributes(child, attributes & ~FILE_ATTRIBUTE_READONLY);
                RemoveFile(child);
            }
        } while (::FindNextFileW(find.Get(), &data));
    }
    find.Reset();
    RemoveEmptyFolder(path);
}

void CreateFolders(const std::wstring& path)
{
    if (path.empty() || FolderExists(path))
        return;
    const std::wstring parent = FolderOf(path);
    if (!parent.empty() && parent != path && !(parent.size() == 2 && parent[1] == L':'))
        CreateFolders(parent);
    if (!MakeFolder(path) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        ThrowFileError(::GetLastError(), path);
}

void CopyFileReplacing(const std::wstring& source, const std::wstring& target, const CProgress& progress)
{
    // A loop of our own rather than CopyFileW, which keeps the thread
    // until the whole file is copied.
    CFile input(source, CFile::OpenRead | CFile::ShareRead);
    CFile output(target, CFile::OpenWrite | CFile::OpenCreate);
    std::vector<unsigned char> block(0x100000);
    for (;;) {
        const std::size_t read = input.Read(block.data(), block.size());
        if (read == 0)
            break;
        output.Write(block.data(), read);
        if (progress)
            progress();
    }
    output.Close();
}

} // namespace Bas
