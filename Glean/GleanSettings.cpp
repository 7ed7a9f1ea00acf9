#include "GleanSettings.h"

#include "Errors.h"
#include "File.h"
#include "GleanAppLog.h"
#include "Handles.h"
#include "Lock.h"
#include "NativeFileSystem.h"
#include "RegistryKey.h"
#include "TempFile.h"
#include "TextTools.h"
#include "ZipCompressor.h"
#include "generated/GleanMessages.h"

#include <shlobj.h>
#include <userenv.h>

#include <cwctype>
#include <map>
#include <mutex>

namespace Glean {

namespace {

CGleanSettings* g_instance = nullptr;

constexpr wchar_t kDefaultRecipientAddress[] = L"support@zarvo.com";
constexpr wchar_t kDefaultRecipientName[] = L"Zarvo Technical Support";

struct CSpecialFolder {
    const wchar_t* macro;
    int csidl; // -1: the default user's profile
    const wchar_t* fallback;
};

const CSpecialFolder kSpecialFolders[] = {
    {L"SF_AdminTools", 48, L"%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools"},
    {L"SF_AltStartup", 29, L"%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
    {L"SF_AppData", 26, L"%APPDATA%"},
    {L"SF_BitBucket", 10, nullptr},
    {L"SF_CommonAdminTools", 47, L"%ALLUSERSPROFILE%\\Microsoft\\Windows\\Start Menu\\Programs\\Administrative Tools"},
    {L"SF_CommonAltStartup", 30, L"%ALLUSERSPROFILE%\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
    {L"SF_CommonAppData", 35, L"%ALLUSERSPROFILE%"},
    {L"SF_CommonDesktopDirectory", 25, L"%PUBLIC%\\Desktop"},
    {L"SF_CommonDocuments", 46, L"%PUBLIC%\\Documents"},
    {L"SF_CommonFavorites", 31, L"%USERPROFILE%\\Favorites"},
    {L"SF_CommonPrograms", 23, L"%ALLUSERSPROFILE%\\Microsoft\\Windows\\Start Menu\\Programs"},
    {L"SF_CommonStartMenu", 22, L"%ALLUSERSPROFILE%\\Microsoft\\Windows\\Start Menu"},
    {L"SF_CommonStartup", 24, L"%ALLUSERSPROFILE%\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
    {L"SF_CommonTemplates", 45, L"%ALLUSERSPROFILE%\\Microsoft\\Windows\\Templates"},
    {L"SF_Controls", 3, nullptr},
    {L"SF_Cookies", 33, L"%APPDATA%\\Microsoft\\Windows\\Cookies"},
    {L"SF_Desktop", 0, L"%USERPROFILE%\\Desktop"},
    {L"SF_DesktopDirectory", 16, L"%USERPROFILE%\\Desktop"},
    {L"SF_Drives", 17, nullptr},
    {L"SF_Favorites", 6, L"%USERPROFILE%\\Favorites"},
    {L"SF_Fonts", 20, L"%windir%\\Fonts"},
    {L"SF_History", 34, L"%LOCALAPPDATA%\\Microsoft\\Windows\\History"},
    {L"SF_Internet", 1, nullptr},
    {L"SF_InternetCache", 32, L"%LOCALAPPDATA%\\Microsoft\\Windows\\Temporary Internet Files"},
    {L"SF_LocalAppData", 28, L"%LOCALAPPDATA%"},
    {L"SF_MyMusic", 13, L"%USERPROFILE%\\Music"},
    {L"SF_MyPictures", 39, L"%USERPROFILE%\\Pictures"},
    {L"SF_NetHood", 19, L"%APPDATA%\\Microsoft\\Windows\\Network Shortcuts"},
    {L"SF_Network", 18, nullptr},
    {L"SF_Personal", 5, L"%USERPROFILE%\\Documents"},
    {L"SF_Printers", 4, nullptr},
    {L"SF_PrintHood", 27, L"%APPDATA%\\Microsoft\\Windows\\Printer Shortcuts"},
    {L"SF_Profile", 40, L"%USERPROFILE%"},
    {L"SF_ProgramFiles", 38, L"%ProgramFiles%"},
    {L"SF_ProgramFilesCommon", 43, L"%ProgramFiles%\\Common Files"},
    {L"SF_Programs", 2, L"%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs"},
    {L"SF_Recent", 8, L"%APPDATA%\\Microsoft\\Windows\\Recent"},
    {L"SF_SendTo", 9, L"%APPDATA%\\Microsoft\\Windows\\SendTo"},
    {L"SF_StartMenu", 11, L"%APPDATA%\\Microsoft\\Windows\\Start Menu"},
    {L"SF_Startup", 7, L"%APPDATA%\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp"},
    {L"SF_System", 37, L"%windir%\\system32"},
    {L"SF_Templates", 21, L"%APPDATA%\\Microsoft\\Windows\\Templates"},
    {L"SF_Windows", 36, L"%windir%"},
    {L"SF_DefaultUser", -1, nullptr},
};

std::wstring ExpandEnvironment(const std::wstring& text)
{
    std::vector<wchar_t> buffer(text.size() + 256);
    for (;;) {
        const DWORD length = ::ExpandEnvironmentStringsW(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return text;
        if (length <= buffer.size())
            return std::wstring(buffer.data(), length - 1);
        buffer.resize(length);
    }
}

constinit Bas::CLock g_folderLock;

void Log(const std::wstring& line)
{
    CGleanAppLog::Instance().AddLine(line);
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

bool Contains(const std::wstring& text, const wchar_t* part)
{
    return text.find(part) != std::wstring::npos;
}

// The part up to and including the last "/", or nothing.
std::wstring KeyFolder(const std::wstring& keyName)
{
    const auto slash = keyName.rfind(L'/');
    return slash == std::wstring::npos ? std::wstring() : keyName.substr(0, slash + 1);
}

// Names from the settings become archive names and file names: a key-name
// folder ("Logs/" of "Logs/File1") is empty or stays inside the folder the
// archive is extracted into, and a file name is one such name that is not a
// folder; an event-log name is a single component.
bool IsSafeKeyFolder(const std::wstring& keyName)
{
    const std::wstring folder = KeyFolder(keyName);
    return folder.empty() || Granite::CZipCompressor::IsSafeName(folder);
}

bool IsSafeFileName(const std::wstring& name)
{
    return Granite::CZipCompressor::IsSafeName(name) && name.back() != L'/' && name.back() != L'\\';
}

bool IsSafeComponent(const std::wstring& name)
{
    return IsSafeFileName(name) && name.find_first_of(L"/\\") == std::wstring::npos;
}

// The string value "Path" of the product's App Paths key, or empty.
std::wstring AppPathsFolder(const std::wstring& appName)
{
    return Bas::ReadRegistryString(HKEY_LOCAL_MACHINE,
                                   L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + appName, L"Path");
}

} // namespace

CGleanSettings::CGleanSettings()
{
    BAS_ASSERT(g_instance == nullptr);
    g_instance = this;
    m_settingsPath = Bas::JoinPath(Bas::FolderOf(Bas::GetModulePath()), L"Glean.ini");
}

CGleanSettings::~CGleanSettings()
{
    g_instance = nullptr;
}

CGleanSettings& CGleanSettings::Instance()
{
    BAS_ASSERT(g_instance != nullptr);
    return *g_instance;
}

const std::wstring& CGleanSettings::SettingsPath() const
{
    BAS_ASSERT(!m_settingsPath.empty());
    return m_settingsPath;
}

std::wstring CGleanSettings::SpecialFolder(int csidl)
{
    static std::map<int, std::wstring>* cache = new std::map<int, std::wstring>;
    std::lock_guard guard(g_folderLock);
    const auto found = cache->find(csidl);
    if (found != cache->end())
        return found->second;
    std::wstring folder;
    if (csidl < 0) {
        wchar_t buffer[MAX_PATH];
        DWORD size = MAX_PATH;
        if (::GetDefaultUserProfileDirectoryW(buffer, &size))
            folder = buffer;
    } else {
        wchar_t buffer[MAX_PATH];
        if (SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer))) {
            folder = buffer;
        } else {
            for (const auto& entry : kSpecialFolders)
                if (entry.csidl == csidl && entry.fallback != nullptr)
                    folder = ExpandEnvironment(entry.fallback);
        }
    }
    (*cache)[csidl] = folder;
    return folder;
}

std::wstring CGleanSettings::ExpandSpecialFolder(const std::wstring& path)
{
    const auto open = path.find(L'<');
    if (open == std::wstring::npos)
        return path;
    const auto close = path.find(L'>', open + 1);
    if (close == std::wstring::npos)
        return path;
    const std::wstring macro = path.substr(open + 1, close - open - 1);
    for (const auto& entry : kSpecialFolders) {
        if (_wcsicmp(entry.macro, macro.c_str()) != 0)
            continue;
        std::size_t rest = close + 1;
        while (rest < path.size() && (path[rest] == L'\\' || path[rest] == L'/'))
            ++rest;
        return Bas::NormalizePath(Bas::JoinPath(SpecialFolder(entry.csidl), path.substr(rest)));
    }
    return path;
}

std::wstring CGleanSettings::ExpandPath(const std::wstring& path)
{
    // A path typed in the settings is taken as Windows reads typed paths
    // (a trailing dot or blank dropped, "." and ".." resolved): the file
    // functions take every path as exactly the name it holds.
    const std::wstring expanded = ExpandSpecialFolder(ExpandEnvironment(path));
    return expanded.empty() ? expanded : Bas::NormalizePath(expanded);
}

void CGleanSettings::Load()
{
    if (!Bas::FileExists(m_settingsPath))
        Bas::ThrowCheck(ERR_INI_FILE_IS_INVALID, L"Glean.ini");
    Bas::CIniFile ini(m_settingsPath);
    if (!ini.HasSection(L"Common"))
        Bas::ThrowCheck(ERR_INI_FILE_IS_INVALID, L"Glean.ini");

    if (!ini.HasKey(L"Common", L"AppName"))
        Log(Bas::Format(MSG_KEY_NOT_FOUND_IN_SECTION, L"AppName", L"common"));
    m_appName = ini.GetValue(L"Common", L"AppName");

    m_appPath = ini.GetValue(L"Common", L"AppPath");
    if (m_appPath.empty()) {
        m_appPath = Bas::NormalizePath(Bas::JoinPath(Bas::FolderOf(Bas::GetModulePath()), L".."));
        if (!m_appName.empty()) {
            const std::wstring registered = AppPathsFolder(m_appName);
            if (!registered.empty())
                m_appPath = registered;
        }
    }

    m_tempDir = ini.GetValue(L"Common", L"TempDir");
    if (m_tempDir.empty())
        m_tempDir = Bas::GetTempFolder();

    loadCollectedFiles(ini);
    // The list stays for the whole program; a mask's thousands of files
    // leave no doubling slack behind.
    m_otherFiles.shrink_to_fit();

    if (!ini.HasSection(L"Registry")) {
        Log(Bas::Format(MSG_SECTION_NOT_FOUND, L"Registry"));
    } else {
        for (const auto& key : ini.KeyNames(L"Registry")) {
            if (IsSafeFileName(key))
                m_registryKeys.emplace_back(ini.GetValue(L"Registry", key), key);
            else
                issue(CSettingsIssue::Registry, ini.GetValue(L"Registry", key), key,
                      Bas::Format(MSG_SECTION_HAS_CORRUPTED_KEY_NAME, L"Registry", key),
                      Bas::CCheckException(MSG_ITEM_NAME_REFUSED, L"Registry", key));
        }
    }

    if (!ini.HasSection(L"Directories")) {
        Log(Bas::Format(MSG_SECTION_NOT_FOUND, L"Directories"));
    } else {
        ::SetEnvironmentVariableW(L"AppPath", m_appPath.c_str());
        if (::GetEnvironmentVariableW(L"ProgramFiles", nullptr, 0) == 0 &&
            ::GetLastError() == ERROR_ENVVAR_NOT_FOUND)
            ::SetEnvironmentVariableW(L"ProgramFiles", SpecialFolder(CSIDL_PROGRAM_FILES).c_str());
        for (const auto& key : ini.KeyNames(L"Directories")) {
            const std::wstring path = ExpandPath(ini.GetValue(L"Directories", key));
            if (path.empty())
                continue;
            if (!Bas::FolderExists(path))
                Log(Bas::Format(MSG_SECTION_HAS_UNEXISTING_DIR, L"Directories", path));
            else if (StartsWith(key, L"Tree"))
                m_trees.push_back(path);
            else
                m_directories.push_back(path);
        }
    }

    if (!ini.HasSection(L"Access")) {
        Log(Bas::Format(MSG_SECTION_NOT_FOUND, L"Access"));
    } else {
        for (const auto& key : ini.KeyNames(L"Access")) {
            const std::wstring value = ini.GetValue(L"Access", key);
            if (StartsWith(key, L"File")) {
                const std::wstring path = ExpandPath(value);
                if (!Bas::IsWellFormedPath(path))
                    Log(Bas::Format(MSG_SECTION_HAS_CORRUPTED_FILE_NAME, L"Access", path));
                else
                    m_accessObjects.push_back({CAccessObject::File, path});
            } else if (StartsWith(key, L"Key")) {
                if (!StartsWith(value, L"HKEY_")) {
                    Log(Bas::Format(MSG_SECTION_HAS_CORRUPTED_KEY_NAME, L"Access", value));
                    continue;
                }
                std::wstring name = value.substr(5);
                if (StartsWith(name, L"LOCAL_MACHINE"))
                    name.erase(0, 6);
                if (!name.empty())
                    m_accessObjects.push_back({CAccessObject::RegistryKey, name});
            } else {
                Log(Bas::Format(MSG_SECTION_HAS_UNKNOWN_OBJECT, L"Access", key));
            }
        }
    }

    m_recipientAddress = ini.GetValue(L"Common", L"RecipientAddress", kDefaultRecipientAddress);
    m_recipientName = ini.GetValue(L"Common", L"RecipientName", kDefaultRecipientName);
    int limit = 0;
    if (Bas::ParseInteger(ini.GetValue(L"Common", L"MaxMailSizeMB"), limit) && limit >= 0)
        m_maxMailSizeMB = limit;
    int threads = 0;
    if (Bas::ParseInteger(ini.GetValue(L"Common", L"Threads"), threads) && threads >= 0)
        m_threads = threads;

    if (ini.HasSection(L"Privacy")) {
        int flag = 0;
        m_privacy.mask = Bas::ParseInteger(ini.GetValue(L"Privacy", L"Mask"), flag) && flag == 1;
        m_privacy.maskCollectedFiles =
            m_privacy.mask && Bas::ParseInteger(ini.GetValue(L"Privacy", L"MaskCollectedFiles"), flag) && flag == 1;
        for (const auto& key : ini.KeyNames(L"Privacy")) {
            const std::wstring word = ini.GetValue(L"Privacy", key);
            if (StartsWith(key, L"Word") && !word.empty())
                m_privacy.words.push_back(word);
        }
    }

    if (!ini.HasSection(L"Msi")) {
        Log(Bas::Format(MSG_SECTION_NOT_FOUND, L"Msi"));
    } else {
        for (const auto& key : ini.KeyNames(L"Msi")) {
            const std::wstring value = ini.GetValue(L"Msi", key);
            if (value.empty())
                continue;
            if (IsSafeKeyFolder(key))
                m_msiEntries.push_back({value, KeyFolder(key)});
            else
                issue(CSettingsIssue::Msi, value, key, Bas::Format(MSG_SECTION_HAS_CORRUPTED_KEY_NAME, L"Msi", key),
                      Bas::CCheckException(MSG_ITEM_NAME_REFUSED, L"Msi", key));
        }
    }

    if (!ini.HasSection(L"EventLog")) {
        Log(Bas::Format(MSG_SECTION_NOT_FOUND, L"EventLog"));
    } else {
        for (int n = 1; ini.HasKey(L"EventLog", L"Log" + std::to_wstring(n)); ++n) {
            const std::wstring key = L"Log" + std::to_wstring(n);
            CEventLogSpec spec;
            spec.logName = ini.GetValue(L"EventLog", key);
            // An empty log name cannot be read; the entry is left out.
            if (spec.logName.empty())
                continue;
            // The log is saved as "EventLog/<name>.evt".
            if (!IsSafeComponent(spec.logName + L".evt")) {
                issue(CSettingsIssue::EventLog, spec.logName, spec.logName + L".evt",
                      Bas::Format(MSG_SECTION_HAS_CORRUPTED_KEY_NAME, L"EventLog", spec.logName),
                      Bas::CCheckException(MSG_ITEM_NAME_REFUSED, L"EventLog", spec.logName));
                continue;
            }
            const std::wstring sources = ini.GetValue(L"EventLog", key + L"Sources");
            std::size_t start = 0;
            while (start <= sources.size() && !sources.empty()) {
                const auto end = sources.find(L';', start);
                const std::wstring piece =
                    Bas::Trim(sources.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
                if (!piece.empty())
                    spec.sources.insert(piece);
                if (end == std::wstring::npos)
                    break;
                start = end + 1;
            }
            m_eventLogs.push_back(std::move(spec));
        }
    }
}

void CGleanSettings::loadCollectedFiles(const Bas::CIniFile& ini)
{
    if (ini.HasSection(L"AppPath"))
        loadSection(ini, L"AppPath", m_appPath, true);
    if (ini.HasSection(L"TempDir"))
        loadSection(ini, L"TempDir", m_tempDir, true);
    if (ini.HasSection(L"OtherFiles"))
        loadSection(ini, L"OtherFiles", std::wstring(), false);
    for (const auto& section : ini.SectionNames()) {
        const auto slash = section.find(L'\\');
        if (slash == std::wstring::npos)
            continue;
        const std::wstring head = section.substr(0, slash);
        const std::wstring rest = section.substr(slash + 1);
        if (head == L"AppPath")
            loadSection(ini, section, Bas::NormalizePath(Bas::JoinPath(m_appPath, rest)), true);
        else if (head == L"TempDir")
            loadSection(ini, section, Bas::NormalizePath(Bas::JoinPath(m_tempDir, rest)), true);
    }
}

void CGleanSettings::loadSection(const Bas::CIniFile& ini, const std::wstring& section, const std::wstring& base,
                                 bool hasBase)
{
    for (const auto& key : ini.KeyNames(section)) {
        const bool isFile = Contains(key, L"File");
        const bool isMask = Contains(key, L"Mask");
        if (!isFile && !isMask)
            continue;
        if (!IsSafeKeyFolder(key)) {
            issue(CSettingsIssue::Files, ini.GetValue(section, key), key,
                  Bas::Format(MSG_SECTION_HAS_CORRUPTED_KEY_NAME, section, key),
                  Bas::CCheckException(MSG_ITEM_NAME_REFUSED, section, key));
            continue;
        }
        const std::wstring value = ini.GetValue(section, key);
        if (isFile) {
            std::wstring path = hasBase ? Bas::NormalizePath(Bas::JoinPath(base, value)) : value;
            path = ExpandPath(path);
            std::uint64_t size = 0;
            if (!hasRoomToPlan())
                continue;
            if (Bas::FileExists(path, size))
                m_otherFiles.push_back({path, std::make_shared<const std::wstring>(key), std::wstring(), size});
            else
                issue(CSettingsIssue::Files, path, {}, Bas::Format(MSG_FILE_NOT_FOUND, path),
                      Bas::CCheckException(MSG_ITEM_FILE_MISSING, path));
        }
        if (isMask)
            addMask(key, value, base, hasBase, Contains(key, L"MaskWithSubdirs"));
    }
}

void CGleanSettings::addMask(const std::wstring& keyName, const std::wstring& value, const std::wstring& base,
                             bool hasBase, bool recursive)
{
    const std::wstring written = hasBase ? base : Bas::FolderOf(value);
    const std::wstring pattern = hasBase ? value : Bas::FileNameOf(value);
    std::wstring folder = Bas::NormalizePath(ExpandPath(written));
    if (folder.empty() || folder.back() != L'\\')
        folder += L'\\';
    if (!Bas::FolderExists(folder)) {
        issue(CSettingsIssue::Files, Bas::JoinPath(written, pattern), {}, Bas::Format(MSG_DIRECTORY_NOT_FOUND, written),
              Bas::CCheckException(MSG_ITEM_FOLDER_MISSING, written));
        return;
    }
    if (!hasRoomToPlan())
        return;
    // A folder that cannot be searched is a line of its own, not "no files".
    std::vector<std::wstring> errors;
    std::vector<std::uint64_t> sizes;
    // No more than the archive can take is ever listed, however many files
    // the folder holds.
    bool stopped = false;
    auto found = Bas::FindFiles(folder, pattern, recursive, &errors, &sizes,
                                Granite::CZipCompressor::kMaxEntries - m_otherFiles.size(), &stopped);
    for (const std::wstring& error : errors)
        Log(error);
    if (found.empty()) {
        if (errors.empty())
            Log(Bas::Format(MSG_FILES_BY_MASK_NOT_FOUND, Bas::JoinPath(written, pattern)));
        return;
    }
    // The sub-folder is the file's folder relative to the searched folder,
    // the folder part of the pattern included. A pattern that leads out of
    // the folder ("..\\x\\*.log") gives none, so that no archive name climbs.
    const std::wstring searched = folder.substr(0, folder.size() - 1);
    const auto key = std::make_shared<const std::wstring>(keyName);
    for (std::size_t i = 0; i < found.size(); ++i) {
        std::wstring& path = found[i];
        const std::wstring parent = Bas::FolderOf(path);
        std::wstring sub;
        if (parent.size() > searched.size() && parent[searched.size()] == L'\\' &&
            ::CompareStringOrdinal(parent.c_str(), static_cast<int>(searched.size()), searched.c_str(),
                                   static_cast<int>(searched.size()), TRUE) == CSTR_EQUAL) {
            sub = parent.substr(searched.size() + 1) + L'/';
            for (wchar_t& c : sub)
                if (c == L'\\')
                    c = L'/';
        }
        m_otherFiles.push_back({std::move(path), key, std::move(sub), sizes[i]});
    }
    // Stopped at the bound: the planned files fill the archive.
    if (stopped)
        hasRoomToPlan();
}

bool CGleanSettings::hasRoomToPlan()
{
    // The archive takes 65535 entries: more files are never planned, with
    // one line when the first is left out.
    if (m_otherFiles.size() < Granite::CZipCompressor::kMaxEntries)
        return true;
    if (!m_planLimitLogged)
        issue(CSettingsIssue::Files, {}, {}, Bas::Format(MSG_FILES_LIMIT_REACHED, std::to_wstring(m_otherFiles.size())),
              Bas::CCheckException(MSG_ITEM_LIMIT_REACHED, std::to_wstring(m_otherFiles.size())));
    m_planLimitLogged = true;
    return false;
}

void CGleanSettings::issue(CSettingsIssue::ESection section, const std::wstring& source, const std::wstring& name,
                           const std::wstring& line, const Bas::CCheckException& error)
{
    Log(line);
    m_issues.push_back({section, source, name, std::make_shared<Bas::CCheckException>(error)});
}

} // namespace Glean
