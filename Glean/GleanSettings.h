// The settings model: Glean.ini read once at start into the lists every log
// writer works from. Problems with single entries become application-log
// lines; only a missing or unusable file is fatal.
#pragma once

#include "Errors.h"
#include "IniFile.h"
#include "Message.h"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace Glean {

inline const Bas::CMessageName ERR_INI_FILE_IS_INVALID{L"ERR_INI_FILE_IS_INVALID"};

struct COtherFile {
    std::wstring path;
    // The settings key that named it, shared by all files a mask finds.
    std::shared_ptr<const std::wstring> key;
    std::wstring subFolder; // "/"-separated, ending in "/" when not empty
    std::uint64_t size = 0; // as the folder listing told, for scheduling

    const std::wstring& KeyName() const noexcept { return *key; }
};

struct CAccessObject {
    enum EKind { File = 0, RegistryKey = 1 };
    EKind kind;
    std::wstring name;
};

struct CEventLogSpec {
    std::wstring logName;
    std::set<std::wstring> sources;
};

// An item the settings name that the run cannot take (a name that would
// not stay in the archive, a file or folder that is not there), with its
// error, for the run's account.
struct CSettingsIssue {
    enum ESection { Files, Registry, Msi, EventLog };
    ESection section;
    std::wstring source;
    std::wstring name; // the archive name it would have had, when known
    std::shared_ptr<const Bas::CCheckException> error;
};

// [Privacy]: personal data masked in what goes into the archive.
struct CPrivacySettings {
    bool mask = false;               // Mask=1
    bool maskCollectedFiles = false; // MaskCollectedFiles=1, with Mask=1
    std::vector<std::wstring> words; // Word1=, Word2=, ...
};

struct CMsiEntry {
    std::wstring productName;
    std::wstring subFolder;
};

class CGleanSettings {
public:
    CGleanSettings();
    ~CGleanSettings();
    CGleanSettings(const CGleanSettings&) = delete;
    CGleanSettings& operator=(const CGleanSettings&) = delete;

    static CGleanSettings& Instance();

    void SetSettingsPath(const std::wstring& path) { m_settingsPath = path; }
    const std::wstring& SettingsPath() const;

    // Reads the file and fills every list. Throws ERR_INI_FILE_IS_INVALID
    // ("Glean.ini") when the file is missing or has no [Common].
    void Load();

    const std::wstring& AppName() const noexcept { return m_appName; }
    const std::wstring& AppPath() const noexcept { return m_appPath; }
    const std::wstring& TempDir() const noexcept { return m_tempDir; }
    const std::vector<COtherFile>& OtherFiles() const noexcept { return m_otherFiles; }
    // The items the settings name that were left out while they were read.
    const std::vector<CSettingsIssue>& Issues() const noexcept { return m_issues; }
    const std::vector<std::pair<std::wstring, std::wstring>>& RegistryKeys() const noexcept { return m_registryKeys; }
    const std::vector<std::wstring>& Directories() const noexcept { return m_directories; }
    const std::vector<std::wstring>& Trees() const noexcept { return m_trees; }
    const std::vector<CAccessObject>& AccessObjects() const noexcept { return m_accessObjects; }
    const std::vector<CMsiEntry>& MsiEntries() const noexcept { return m_msiEntries; }
    const std::vector<CEventLogSpec>& EventLogs() const noexcept { return m_eventLogs; }
    const std::wstring& RecipientAddress() const noexcept { return m_recipientAddress; }
    const std::wstring& RecipientName() const noexcept { return m_recipientName; }
    // [Common] MaxMailSizeMB: the largest archive sent without asking, in
    // MB (default 20); 0 asks never.
    int MaxMailSizeMB() const noexcept { return m_maxMailSizeMB; }
    // [Common] Threads: the workers of a run; 0 (the default) one per core,
    // 1 none at all.
    int Threads() const noexcept { return m_threads; }
    const CPrivacySettings& Privacy() const noexcept { return m_privacy; }

    // Environment variables, then a special-folder macro.
    static std::wstring ExpandPath(const std::wstring& path);
    // "<SF_Name>rest" becomes the special folder joined with rest.
    static std::wstring ExpandSpecialFolder(const std::wstring& path);
    // The folder of a CSIDL, or its fallback.
    static std::wstring SpecialFolder(int csidl);

private:
    void loadCollectedFiles(const Bas::CIniFile& ini);
    void loadSection(const Bas::CIniFile& ini, const std::wstring& section, const std::wstring& base, bool hasBase);
    // Logs the line of a problem with an item of the settings and keeps
    // the item with its error (the English one the run's account gives).
    void issue(CSettingsIssue::ESection section, const std::wstring& source, const std::wstring& name,
               const std::wstring& line, const Bas::CCheckException& error);
    // Whether another collected file may be planned; one line the first
    // time none may.
    bool hasRoomToPlan();
    void addMask(const std::wstring& keyName, const std::wstring& value, const std::wstring& base, bool hasBase,
                 bool recursive);

    std::wstring m_settingsPath;
    std::wstring m_appName;
    std::wstring m_appPath;
    std::wstring m_tempDir;
    std::vector<COtherFile> m_otherFiles;
    std::vector<CSettingsIssue> m_issues;
    bool m_planLimitLogged = false;
    std::vector<std::pair<std::wstring, std::wstring>> m_registryKeys;
    std::vector<std::wstring> m_directories;
    std::vector<std::wstring> m_trees;
    std::vector<CAccessObject> m_accessObjects;
    std::vector<CMsiEntry> m_msiEntries;
    std::vector<CEventLogSpec> m_eventLogs;
    std::wstring m_recipientAddress;
    std::wstring m_recipientName;
    int m_maxMailSizeMB = 20;
    int m_threads = 0;
    CPrivacySettings m_privacy;
};

} // namespace Glean
