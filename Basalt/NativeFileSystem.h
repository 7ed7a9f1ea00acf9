// Path helpers over the operating system's file functions.
#pragma once

#include "WinApi.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace Bas {

// The full path of a module's file (the program's own for null).
std::wstring GetModulePath(HMODULE module = nullptr);
// The program's name: the one it published, else its file name without the
// extension ("Glean").
std::wstring ProgramName();
void SetProgramName(const std::wstring& name);
// The folder part of a path, without its trailing separator.
std::wstring FolderOf(const std::wstring& path);
// The part after the last separator.
std::wstring FileNameOf(const std::wstring& path);
// A path that starts neither with a separator nor with a drive letter.
bool IsRelativePath(const std::wstring& path);
// The path every file function of the programs takes, so that a name is
// always the entry it names: made full (a relative path against the current
// folder, "D:name" against D's current folder, "\name" against the current
// drive or share), "/" turned into "\", "." and ".." resolved by their text
// alone, repeated and trailing separators dropped (a root keeps its own:
// "\\?\C:\"), then prefixed with "\\?\" ("\\?\UNC\" for "\\server\share"). Nothing else changes: a component that
// ends in a dot or blank keeps it, and "nul.txt", "con.log" or "COM1" stay
// names, where the unprefixed forms would strip them or open a device; and
// no MAX_PATH limit applies. A path that already starts with "\\?\" or
// "\\.\" is returned as it is, and so is the empty path. What the user types
// goes through NormalizePath first, which applies those rules.
std::wstring LongPath(const std::wstring& path);
// folder + "\" + name, without doubling a separator.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);
// The full path with "." and ".." resolved and "/" turned into "\", by the
// system's rules for what users type (trailing dots and blanks stripped).
std::wstring NormalizePath(const std::wstring& path);
// Each component 1 to 255 characters long and free of characters that file
// names cannot hold; a path with a drive starts with a letter and ":".
bool IsWellFormedPath(const std::wstring& path);
// Whether a name is one Windows keeps for a device, with or without an
// extension and blanks before it: CON, PRN, AUX, NUL, CONIN$, CONOUT$,
// COM0 to COM9 and LPT0 to LPT9 (with the superscript digits 1, 2 and 3 as
// well), in any case. Such a name opens the device wherever a path is read
// without the "\\?\" prefix.
bool IsDeviceName(std::wstring_view name);
// Whether a full path ("C:\..." or "\\server\share\...") names the same
// entry when it is read without the "\\?\" prefix, as programs that take
// ANSI paths read it: no "." or ".." component, none that ends in a dot or
// blank (which the system strips), none named like a device, no "/".
bool ReadsAsItself(const std::wstring& path);
// The files (not folders) of a folder that match a wildcard pattern, with
// those of every subfolder when recursive; sorted by name within a folder,
// a folder's own files before its subfolders'. A pattern with a folder part
// ("Logs\*.log") searches that folder inside the given one.
// A folder that cannot be searched adds its error's text to `errors`, when
// given, and the search goes on with the others. `sizes`, when given, gets
// each file's size as the folder listing tells it.
// At most `limit` files are returned, the first ones of the unbounded
// search; the search stops as soon as it knows of one file more, and then
// sets `stopped` (when given; it is cleared otherwise). Memory stays within
// the limit, however many files one folder holds.
inline constexpr std::size_t kNoFileLimit = static_cast<std::size_t>(-1);
std::vector<std::wstring> FindFiles(const std::wstring& folder, const std::wstring& pattern, bool recursive,
                                    std::vector<std::wstring>* errors = nullptr,
                                    std::vector<std::uint64_t>* sizes = nullptr, std::size_t limit = kNoFileLimit,
                                    bool* stopped = nullptr);
struct CFindEntry {
    std::wstring name;
    DWORD attributes = 0;
    FILETIME lastWrite = {};
    std::uint64_t size = 0;
};

enum EFindFlags : unsigned {
    FindFileEntries = 0x1,
    FindFolderEntries = 0x2,
    SkipHiddenAndSystem = 0x4,
};

// The entries of one folder that match a wildcard pattern, in the order the
// system gives them, without "." and "..". A folder that cannot be read (or
// is missing) raises CFileException; no match is an empty list.
std::vector<CFindEntry> ListFolderEntries(const std::wstring& folder, const std::wstring& pattern, unsigned flags);
// Sorts by name ignoring case, and keeps one of names that differ in case
// only (the system's own order of a folder's full paths).
void SortByNameNoCase(std::vector<CFindEntry>& entries);

// The serial number of the volume at a root ("C:\\"), 0 when the system
// cannot tell.
DWORD VolumeSerialNumber(const std::wstring& root);

// The file functions the programs call by path, each through LongPath, so
// that a path of 260 characters and more works as any other: the plain
// forms fail on Windows past MAX_PATH.
bool RemoveFile(const std::wstring& path);
bool RemoveEmptyFolder(const std::wstring& path);
bool MakeFolder(const std::wstring& path);
DWORD PathAttributes(const std::wstring& path);
bool SetPathAttributes(const std::wstring& path, DWORD attributes);

// Removes a folder with everything inside it; failures are ignored.
void RemoveFolderTree(const std::wstring& path);
// Creates a folder with its missing parents.
void CreateFolders(const std::wstring& path);
// Called between the blocks of long work, so that the caller can keep its
// window alive (and end the work by throwing).
using CProgress = std::function<void()>;

// Copies a file, replacing the target, block by block.
void CopyFileReplacing(const std::wstring& source, const std::wstring& target, const CProgress& progress = {});

} // namespace Bas
