// Temporary files and folders: unique names, a process-wide registry of what
// was created, and removal at library shutdown.
#pragma once

#include <cstdint>
#include <string>

namespace Bas {

// The name generator: xorshift steps, five characters of base 40.
class CTempNameGenerator {
public:
    static constexpr wchar_t kAlphabet[] = L"0123456789qwertyuiopasdfghjklzxcvbnm+-=_";

    explicit CTempNameGenerator(std::uint32_t seed) noexcept : m_state(seed == 0 ? 1 : seed) {}
    // A seed from the performance counter, the process and the thread.
    static std::uint32_t MakeSeed();

    // One generator step, then its five characters, least significant first.
    std::wstring Next();

private:
    std::uint32_t m_state;
};

// The folder setting ("Temp" of the library settings); empty for none.
void SetTempFolderSetting(const std::wstring& folder);
// The setting when that folder exists, else the Windows temporary folder,
// else the Windows folder.
std::wstring GetTempFolder();

// Creates a new empty file "<prefix><5 characters>.<extension>" in the
// folder and registers it; an empty prefix or extension means "tmp".
std::wstring CreateTempFile(const std::wstring& folder, const std::wstring& prefix = L"tmp",
                            const std::wstring& extension = L"tmp");
// Creates a new empty folder "tmp<5 characters>" inside the parent.
std::wstring CreateTempFolder(const std::wstring& parent);
// Registers a path as a temporary file of the run, so it is removed at
// shutdown (files that the program writes under names of its own choice).
void RegisterTempFile(const std::wstring& path);
// Deletes a registered file (kept with "KeepTempFiles") and forgets it.
void DeleteTempFile(const std::wstring& path);
bool IsTempFile(const std::wstring& path);

// "KeepTempFiles": registered files stay on disk.
void SetKeepTempFiles(bool keep);
bool KeepTempFiles();

// Deletes every registered file, then every registered folder with what is
// left inside it; failures are ignored. With "KeepTempFiles" all stay.
void ShutdownTempFiles();

// Holds a temporary file's path and deletes the file when destroyed.
class CTempFilePath {
public:
    CTempFilePath() = default;
    explicit CTempFilePath(std::wstring path) : m_path(std::move(path)) {}
    ~CTempFilePath() { Reset(); }
    CTempFilePath(CTempFilePath&& other) noexcept : m_path(std::move(other.m_path)) { other.m_path.clear(); }
    CTempFilePath& operator=(CTempFilePath&& other) noexcept;
    CTempFilePath(const CTempFilePath&) = delete;
    CTempFilePath& operator=(const CTempFilePath&) = delete;

    const std::wstring& Path() const noexcept { return m_path; }
    bool Empty() const noexcept { return m_path.empty(); }
    void Reset(std::wstring path = {});

private:
    std::wstring m_path;
};

} // namespace Bas
