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

namespace {

// "\\?\" and "\\.\" paths go to the system as they are.
bool IsDevicePath(const std::wstring& path)
{
    return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == L'?' || path[2] == L'.') &&
           IsSeparator(path[3]);
}

std::wstring CurrentDirectory()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(length);
    }
}

// The end of the part that ".." cannot climb out of, in a full path with
// "\" separators: "C:", "\\server\share", "\\?\C:", "\\?\UNC\server\share",
// "\\?\Volume{...}".
std::size_t RootLength(const std::wstring& path)
{
    const auto after = [&](std::size_t start, int components) {
        std::size_t end = start;
        for (int i = 0; i < components; ++i) {
            end = path.find(L'\\', i == 0 ? end : end + 1);
            if (end == std::wstring::npos)
                return path.size();
        }
        return end;
    };
    if (IsDevicePath(path)) {
        if (path.size() >= 8 && _wcsnicmp(path.c_str() + 4, L"UNC\\", 4) == 0)
            return after(8, 2);
        return after(4, 1);
    }
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\')
        return after(2, 2);
    return std::min<std::size_t>(path.size(), 2);
}

// The path made full as the system would, but for its components: a path
// on the current drive, a drive's current folder or the current folder.
std::wstring AbsolutePath(const std::wstring& path)
{
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\')
        return path;
    if (path.size() >= 2 && path[1] == L':') {
        if (path.size() >= 3 && path[2] == L'\\')
            return path;
        // "D:name": D's own current folder, which the system keeps apart.
        return JoinPath(NormalizePath(path.substr(0, 2)), path.substr(2));
    }
    const std::wstring current = CurrentDirectory();
    if (!path.empty() && path[0] == L'\\')
        return current.substr(0, RootLength(current)) + path;
    return JoinPath(current, path);
}

} // namespace

std::wstring LongPath(const std::wstring& path)
{
    if (path.empty() || IsDevicePath(path))
        return path;
    std::wstring full = path;
    std::replace(full.begin(), full.end(), L'/', L'\\');
    full = AbsolutePath(full);
    if (IsRelativePath(full))
        return path; // no current folder to be had
    const std::size_t rootLength = RootLength(full);
    std::wstring result;
    if (IsDevicePath(full))
        result = full.substr(0, rootLength); // a current folder in that form
    else if (full[0] == L'\\')
        result = L"\\\\?\\UNC" + full.substr(1, rootLength - 1);
    else
        result = L"\\\\?\\" + full.substr(0, rootLength);
    const std::size_t rootEnd = result.size();
    // Only "." and ".." have a meaning of their own: with the prefix the
    // system strips no trailing dot or blank and maps no name to a device,
    // so "dir." and "nul.txt" stay the entries they name.
    for (std::size_t start = rootLength; start < full.size();) {
        std::size_t end = full.find(L'\\', start);
        if (end == std::wstring::npos)
            end = full.size();
        const std::wstring_view component(full.data() + start, end - start);
        start = end + 1;
        if (component.empty() || component == L".")
            continue;
        if (component == L"..") {
            if (result.size() > rootEnd)
                result.resize(result.rfind(L'\\'));
            continue;
        }
        result += L'\\';
        result += component;
    }
    // "\\?\C:" is the volume itself, "\\?\C:\" its root folder.
    if (result.size() == rootEnd)
        result += L'\\';
    return result;
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

bool IsDeviceName(std::wstring_view name)
{
    std::wstring base(name.substr(0, name.find(L'.')));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    ::CharUpperBuffW(base.data(), static_cast<DWORD>(base.size()));
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (base == device)
            return true;
    if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
        const wchar_t digit = base[3];
        return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
    }
    return false;
}

bool ReadsAsItself(const std::wstring& path)
{
    const bool drive = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
    const bool share = path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
    if (path.find(L'/') != std::wstring::npos || !(drive || share) || IsDevicePath(path))
        return false;
    // The root ("C:" or "\\server\share") is taken as it is.
    std::size_t start = RootLength(path);
    while (start < path.size()) {
        std::size_t end = path.find(L'\\', start + 1);
        if (end == std::wstring::npos)
            end = path.size();
        const std::wstring_view component(path.data() + start + 1, end - start - 1);
        if (component.empty() || component == L"." || component == L".." || component.back() == L'.' ||
            component.back() == L' ' || IsDeviceName(component))
            return false;
        start = end;
    }
    return true;
}

namespace {

// Each entry of one folder that matches, as ListFolderEntries filters them,
// without holding the folder's listing.
template <class Visit>
void ForEachFolderEntry(const std::wstring& folder, const std::wstring& pattern, unsigned flags, Visit&& visit)
{
    WIN32_FIND_DATAW data;
    CFindHandle find(::FindFirstFileW(LongPath(JoinPath(folder, pattern)).c_str(), &data));
    if (!find) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES)
            return;
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
        visit(CFindEntry{data.cFileName, data.dwFileAttributes, data.ftLastWriteTime,
                         (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow});
    } while (::FindNextFileW(find.Get(), &data));
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES)
        ThrowFileError(error, folder);
}

struct CFileSearch {
    std::wstring pattern;
    bool recursive;
    std::size_t limit;
    std::vector<std::wstring>& found;
    std::vector<std::wstring>* errors;
    std::vector<std::uint64_t>* sizes;
    bool stopped = false;
};

bool ByName(const CFindEntry& a, const CFindEntry& b)
{
    return a.name < b.name;
}

void collectFiles(const std::wstring& folder, CFileSearch& search)
{
    // Of a folder's files only the first ones by name that still fit, and
    // one more to tell that there were more, are kept (a heap with the last
    // on top): a folder of a million files costs what the limit allows, and
    // the files kept are those an unbounded search would have returned first.
    const std::size_t room = search.limit - search.found.size();
    const std::size_t keep = room == kNoFileLimit ? room : room + 1;
    std::vector<CFindEntry> files;
    std::vector<CFindEntry> folders;
    try {
        ForEachFolderEntry(folder, search.pattern, FindFileEntries, [&](CFindEntry&& entry) {
            if (files.size() < keep) {
                files.push_back(std::move(entry));
                std::push_heap(files.begin(), files.end(), ByName);
            } else if (ByName(entry, files.front())) {
                std::pop_heap(files.begin(), files.end(), ByName);
                files.back() = std::move(entry);
                std::push_heap(files.begin(), files.end(), ByName);
            }
        });
        // Junctions and folder links are not followed: one that points at
        // an ancestor would find the same files again and again.
        if (search.recursive && files.size() <= room)
            ForEachFolderEntry(folder, L"*", FindFolderEntries, [&](CFindEntry&& entry) {
                if (!(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                    folders.push_back(std::move(entry));
            });
    } catch (CFileException* raw) {
        auto error = Own(raw);
        if (search.errors != nullptr)
            search.errors->push_back(error->GetMessageText());
        return;
    }
    std::sort_heap(files.begin(), files.end(), ByName);
    if (files.size() > room) {
        files.resize(room);
        search.stopped = true;
    }
    for (const CFindEntry& file : files) {
        search.found.push_back(JoinPath(folder, file.name));
        if (search.sizes != nullptr)
            search.sizes->push_back(file.size);
    }
    std::sort(folders.begin(), folders.end(), ByName);
    for (const CFindEntry& entry : folders) {
        if (search.stopped)
            return;
        collectFiles(JoinPath(folder, entry.name), search);
    }
}

} // namespace

std::vector<std::wstring> FindFiles(const std::wstring& folder, const std::wstring& pattern, bool recursive,
                                    std::vector<std::wstring>* errors, std::vector<std::uint64_t>* sizes,
                                    std::size_t limit, bool* stopped)
{
    // The system matches wildcards in the last component only, and names
    // what it finds without their folder: a pattern such as "Logs\*.log" is
    // the pattern "*.log" in the folder's "Logs".
    std::vector<std::wstring> found;
    const std::wstring subfolder = FolderOf(pattern);
    const std::wstring searched = subfolder.empty() ? folder : NormalizePath(JoinPath(folder, subfolder));
    CFileSearch search{FileNameOf(pattern), recursive, limit, found, errors, sizes};
    collectFiles(searched, search);
    if (stopped != nullptr)
        *stopped = search.stopped;
    return found;
}

std::vector<CFindEntry> ListFolderEntries(const std::wstring& folder, const std::wstring& pattern, unsigned flags)
{
    std::vector<CFindEntry> entries;
    ForEachFolderEntry(folder, pattern, flags, [&](CFindEntry&& entry) { entries.push_back(std::move(entry)); });
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
