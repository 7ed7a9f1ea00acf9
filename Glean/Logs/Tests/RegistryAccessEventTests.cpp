#include "AccessLog.h"
#include "Errors.h"
#include "EventLogs.h"
#include "File.h"
#include "GleanAppLog.h"
#include "Message.h"
#include "NativeFileSystem.h"
#include "RegistryExport.h"
#include "TempFile.h"
#include "TestFolder.h"
#include "generated/GleanMessages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>

namespace {

std::vector<BYTE> Utf16(const std::wstring& text)
{
    std::vector<BYTE> bytes;
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<BYTE>(unit));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    return bytes;
}

// A registry of made-up keys: path (below any root) to values and subkeys.
struct CFakeValue {
    DWORD type;
    std::wstring text;
    std::vector<BYTE> bytes;
    LONG error = ERROR_SUCCESS;
};

struct CFakeKey {
    std::vector<std::pair<std::wstring, CFakeValue>> values;
    std::vector<std::wstring> subkeys;
    bool readable = true;
};

class CFakeRegistry : public Glean::IRegistrySource {
public:
    std::map<std::wstring, CFakeKey> keys;
    std::vector<HKEY> roots;

    class CKey : public Glean::IRegistryKeySource {
    public:
        explicit CKey(const CFakeKey& key) : m_key(key) {}
        std::vector<Bas::CRegistryKey::CValue> Values() override
        {
            std::vector<Bas::CRegistryKey::CValue> values;
            for (const auto& [name, fake] : m_key.values) {
                std::vector<BYTE> data = fake.bytes;
                if (data.empty() && (fake.type == REG_SZ || fake.type == REG_EXPAND_SZ))
                    data = Utf16(fake.text + std::wstring(1, L'\0'));
                values.push_back({name, fake.type, data, fake.error});
            }
            return values;
        }
        std::vector<std::wstring> SubkeyNames() override { return m_key.subkeys; }

    private:
        const CFakeKey& m_key;
    };

    std::unique_ptr<Glean::IRegistryKeySource> Open(HKEY root, const std::wstring& path) override
    {
        roots.push_back(root);
        auto at = keys.find(path);
        if (at == keys.end() || !at->second.readable)
            return nullptr;
        return std::make_unique<CKey>(at->second);
    }
};

std::vector<BYTE> Bytes(std::initializer_list<int> values)
{
    std::vector<BYTE> bytes;
    for (int v : values)
        bytes.push_back(static_cast<BYTE>(v));
    return bytes;
}

TEST(RegistryExport, EveryValueTypeAndEscape)
{
    CFakeRegistry registry;
    CFakeKey& key = registry.keys[L"Soft\\App"];
    key.values = {{L"", {REG_SZ, L"x"}},
                  {L"a\"b\\c", {REG_SZ, L"line\none \"q\" \\"}},
                  {L"Dword", {REG_DWORD, L"", Bytes({255, 0, 0, 0})}},
                  {L"Bin", {REG_BINARY, L"", Bytes({0x0A, 0xFF})}},
                  {L"EmptyBin", {REG_BINARY, L"", {}}},
                  {L"EmptyExpand", {REG_EXPAND_SZ, L""}},
                  {L"Expand", {REG_EXPAND_SZ, L"%A%"}},
                  {L"Quad", {REG_QWORD, L"", Bytes({1, 0, 0, 0, 0, 0, 0, 0})}},
                  {L"None", {REG_NONE, L"", {}}},
                  {L"Denied", {REG_BINARY, L"", {}, ERROR_ACCESS_DENIED}},
                  {L"DeniedMulti", {REG_MULTI_SZ, L"", {}, ERROR_ACCESS_DENIED}},
                  {L"DeniedText", {REG_SZ, L"", {}, ERROR_ACCESS_DENIED}},
                  {L"Short", {REG_DWORD, L"", Bytes({1, 2})}},
                  {L"Odd", {REG_SZ, L"", Bytes({0x41, 0, 0x42})}},
                  {L"Inner", {REG_SZ, L"", Utf16(std::wstring(L"ab\0cd", 5))}}};
    key.subkeys = {L"Sub", L"Locked", L"Other"};
    registry.keys[L"Soft\\App\\Sub"].subkeys = {L"Deeper"};
    registry.keys[L"Soft\\App\\Sub\\Deeper"].values = {{L"v", {REG_SZ, L"1"}}};
    registry.keys[L"Soft\\App\\Locked"].readable = false;
    registry.keys[L"Soft\\App\\Other"];
    Glean::CRegistryExporter exporter(registry);
    std::vector<std::wstring> lines;
    ASSERT_TRUE(exporter.BuildLines(L"HKEY_LOCAL_MACHINE\\Soft\\App", lines));
    const std::wstring root = L"[HKEY_LOCAL_MACHINE\\Soft\\App";
    EXPECT_EQ(lines, (std::vector<std::wstring>{
                         L"Windows Registry Editor Version 5.00", L"", root + L"]", L"@=\"x\"",
                         L"\"a\\\"b\\\\c\"=\"line\r\none \\\"q\\\" \\\\\"", L"\"Dword\"=dword:000000ff",
                         L"\"Bin\"=hex:0A,FF", L"\"EmptyBin\"=hex:", L"\"EmptyExpand\"=hex(2):00,00",
                         L"\"Expand\"=hex(2):25,00,41,00,25,00,00,00", L"\"Denied\"=hex: ; error(0x00000005)",
                         L"\"DeniedMulti\"=hex(7): ; error(0x00000005)", L"\"DeniedText\"=\"\" ; error(0x00000005)",
                         L"\"Short\"=dword:00000201", L"\"Odd\"=\"\"", L"\"Inner\"=\"ab\"", L"", root + L"\\Sub]", L"",
                         root + L"\\Sub\\Deeper]", L"\"v\"=\"1\"", L"", root + L"\\Locked]", L"", root + L"\\Other]"}));
    EXPECT_TRUE(std::all_of(registry.roots.begin(), registry.roots.end(),
                            [](HKEY r) { return r == HKEY_LOCAL_MACHINE; }));
    // An unknown first component reads under HKEY_CURRENT_USER and keeps its
    // own text in the headers; a missing key gives nothing.
    registry.roots.clear();
    ASSERT_TRUE(exporter.BuildLines(L"HKLM\\Soft\\App\\Other", lines));
    EXPECT_EQ(lines.back(), L"[HKLM\\Soft\\App\\Other]");
    EXPECT_EQ(registry.roots.front(), HKEY_CURRENT_USER);
    EXPECT_FALSE(exporter.BuildLines(L"HKEY_LOCAL_MACHINE\\Soft\\Missing", lines));
    EXPECT_EQ(Glean::CRegistryExporter::RootKey(L"hkey_users"), HKEY_CURRENT_USER);
    EXPECT_EQ(Glean::CRegistryExporter::RootKey(L"HKEY_PERFORMANCE_NLSTEXT"), HKEY_PERFORMANCE_NLSTEXT);
}

TEST(RegistryExport, WrapRulesOfBothHexFormats)
{
    for (std::size_t length : {0u, 1u, 20u, 21u, 22u, 23u, 24u, 40u, 77u, 200u, 1000u}) {
        for (const std::wstring& name : {std::wstring(L"M"), std::wstring(30, L'n'), std::wstring(80, L'l')}) {
            CFakeRegistry registry;
            std::wstring text;
            for (std::size_t i = 0; i < length; ++i)
                text.push_back(static_cast<wchar_t>(L'a' + i % 26));
            std::vector<BYTE> multi = Utf16(text + std::wstring(1, L'\0') + text + std::wstring(2, L'\0'));
            registry.keys[L"K"].values = {{name, {REG_MULTI_SZ, L"", multi}}, {name + L"2", {REG_EXPAND_SZ, text}}};
            Glean::CRegistryExporter exporter(registry);
            std::vector<std::wstring> lines;
            ASSERT_TRUE(exporter.BuildLines(L"HKEY_CURRENT_USER\\K", lines));
            // Multi-string: continuation lines end in "\" and are never longer
            // than 80 characters with it.
            std::size_t i = 3;
            std::wstring bytes;
            for (; lines[i].back() == L'\\'; ++i) {
                EXPECT_LE(lines[i + 1].size(), 80u);
                if (i > 3) {
                    EXPECT_LE(lines[i].size(), 80u);
                    EXPECT_EQ(lines[i].substr(0, 2), L"  ");
                }
                bytes += lines[i].substr(0, lines[i].size() - 1);
            }
            bytes += lines[i];
            std::wstring expected = L"\"" + name + L"\"=hex(7):";
            for (std::size_t b = 0; b < multi.size(); ++b) {
                wchar_t hex[4];
                std::swprintf(hex, 4, L"%02x", multi[b]);
                expected += (b == 0 ? L"" : L",") + std::wstring(hex);
            }
            std::wstring joined = bytes;
            for (std::size_t at; (at = joined.find(L"  ")) != std::wstring::npos;)
                joined.erase(at, 2);
            EXPECT_EQ(joined, expected);
            // Expand string: inside one line, broken by "\" CR LF and two blanks
            // when the counter passes 76.
            const std::wstring& expand = lines[i + 1];
            std::size_t counter = name.size() + 1 + 10;
            std::wstring rebuilt = L"\"" + name + L"2\"=hex(2):";
            const std::vector<BYTE> data = Utf16(text + std::wstring(1, L'\0'));
            for (std::size_t b = 0; b < data.size(); ++b) {
                wchar_t hex[4];
                std::swprintf(hex, 4, L"%02x,", data[b]);
                rebuilt += hex;
                counter += 3;
                if (counter > 76 && b + 1 < data.size()) {
                    rebuilt += L"\\\r\n  ";
                    counter = 2;
                }
            }
            rebuilt.pop_back();
            EXPECT_EQ(expand, rebuilt) << length;
            EXPECT_EQ(lines.size(), i + 2);
        }
    }
}

TEST(RegistryExport, DriverNumbersFilesAndRefusesRoots)
{
    Testing::CTestFolder folder;
    Glean::CGleanAppLog log;
    CFakeRegistry registry;
    registry.keys[L"Soft\\Item1"];
    registry.keys[L"Soft\\Item3"];
    registry.keys[L"Soft\\Single"];
    // Files named as the settings name the exports are never touched.
    folder.WriteBytes(L"Stale.reg", "kept");
    folder.WriteBytes(L"Gone.reg", "kept");
    const auto files = Glean::ExportAll(registry,
                                        {{L"HKEY_CURRENT_USER\\Soft\\Item*", L"Item.reg"},
                                         {L"HKEY_CURRENT_USER\\Soft\\Single", L"Stale.reg"},
                                         {L"HKEY_CURRENT_USER\\Soft\\Gone", L"Gone.reg"},
                                         {L"HKEY_CURRENT_USER\\Soft\\None*", L"None.reg"},
                                         {L"HKEY_LOCAL_MACHINE", L"Root.reg"},
                                         {L"HKEY_LOCAL_MACHINE\\", L"Root2.reg"}},
                                        folder.Path());
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].archiveName, L"Item1.reg");
    EXPECT_EQ(files[1].archiveName, L"Item3.reg");
    EXPECT_EQ(files[2].archiveName, L"Stale.reg");
    for (const auto& file : files) {
        EXPECT_TRUE(Bas::IsTempFile(file.path));
        EXPECT_EQ(Bas::FolderOf(file.path), folder.Path());
        EXPECT_NE(Testing::ReadFileBytes(file.path).find("W\0i\0n\0d\0o\0w\0s", 0, 14), std::string::npos);
    }
    EXPECT_EQ(folder.ReadBytes(L"Stale.reg"), "kept");
    EXPECT_EQ(folder.ReadBytes(L"Gone.reg"), "kept");
    EXPECT_EQ(log.Lines(), (std::vector<std::wstring>{
                               Bas::Format(MSG_KEY_NOT_FOUND, L"HKEY_CURRENT_USER\\Soft\\Gone"),
                               Bas::Format(MSG_KEY_NOT_FOUND, L"HKEY_CURRENT_USER\\Soft\\None*"),
                               Bas::Format(MSG_REGISTRY_ROOT_NOT_EXPORTED, L"HKEY_LOCAL_MACHINE"),
                               Bas::Format(MSG_REGISTRY_ROOT_NOT_EXPORTED, L"HKEY_LOCAL_MACHINE\\")}));
    for (const auto& file : files)
        Bas::DeleteTempFile(file.path);
}

TEST(AccessRights, TablesOfTheThreeKindsAndLeftOverBits)
{
    const std::vector<std::wstring> standard = {L"\t\tDELETE", L"\t\tREAD_CONTROL", L"\t\tWRITE_DAC",
                                                L"\t\tWRITE_OWNER"};
    auto with = [&](std::vector<std::wstring> tail) {
        std::vector<std::wstring> lines = standard;
        lines.insert(lines.end(), tail.begin(), tail.end());
        return lines;
    };
    EXPECT_EQ(Glean::RightLines(0x1F01FF, Glean::AccessKind::File),
              with({L"\t\tFILE_READ_DATA", L"\t\tFILE_WRITE_DATA", L"\t\tFILE_APPEND_DATA", L"\t\tFILE_READ_EA",
                    L"\t\tFILE_WRITE_EA", L"\t\tFILE_EXECUTE", L"\t\tFILE_READ_ATTRIBUTES",
                    L"\t\tFILE_WRITE_ATTRIBUTES", L"\t\tSYNCHRONIZE"}));
    EXPECT_EQ(Glean::RightLines(0x1F01FF, Glean::AccessKind::Folder),
              with({L"\t\tFILE_LIST_DIRECTORY", L"\t\tFILE_ADD_FILE", L"\t\tFILE_ADD_SUBDIRECTORY",
                    L"\t\tFILE_READ_EA", L"\t\tFILE_WRITE_EA", L"\t\tFILE_TRAVERSE", L"\t\tFILE_DELETE_CHILD",
                    L"\t\tFILE_READ_ATTRIBUTES", L"\t\tFILE_WRITE_ATTRIBUTES", L"\t\tSYNCHRONIZE"}));
    EXPECT_EQ(Glean::RightLines(0xF003F, Glean::AccessKind::RegistryKey),
              with({L"\t\tKEY_QUERY_VALUE", L"\t\tKEY_SET_VALUE", L"\t\tKEY_CREATE_SUB_KEY",
                    L"\t\tKEY_ENUMERATE_SUB_KEYS", L"\t\tKEY_NOTIFY", L"\t\tKEY_CREATE_LINK"}));
    EXPECT_EQ(Glean::RightLines(0x20019, Glean::AccessKind::RegistryKey),
              (std::vector<std::wstring>{L"\t\tREAD_CONTROL", L"\t\tKEY_QUERY_VALUE", L"\t\tKEY_ENUMERATE_SUB_KEYS",
                                         L"\t\tKEY_NOTIFY"}));
    EXPECT_EQ(Glean::RightLines(0x80000000 | 0x300, Glean::AccessKind::RegistryKey),
              (std::vector<std::wstring>{L"\t\tKEY_WOW64_32KEY", L"\t\tKEY_WOW64_64KEY", L"\t\t80000000"}));
    // Bit 0x40 has no file name and is known, so it is dropped for files.
    EXPECT_EQ(Glean::RightLines(0x40, Glean::AccessKind::File), std::vector<std::wstring>{});
    EXPECT_EQ(Glean::RightLines(0x80020001, Glean::AccessKind::Unknown),
              (std::vector<std::wstring>{L"\t\tREAD_CONTROL", L"\t\t80000001"}));
    EXPECT_EQ(Glean::MaskText(0x1F01FF), L"1f01ff");
}

class CFakeAccess : public Glean::IAccessSystem {
public:
    bool hasUser = true;
    std::map<std::wstring, DWORD> daclErrors;
    std::map<std::wstring, DWORD> rightsErrors; // by account name
    std::wstring current;

    bool CurrentUser(Glean::CAccessAccount& account) override
    {
        account = {L"PC\\user", L"S-1-5-21-1", {}};
        return hasUser;
    }
    Glean::CAccessAccount LocalSystem() override { return {L"NT AUTHORITY\\SYSTEM", L"S-1-5-18", {}}; }
    DWORD ReadDacl(const Glean::CAccessObject& object, std::wstring& sddl) override
    {
        current = object.name;
        auto at = daclErrors.find(object.name);
        if (at != daclErrors.end())
            return at->second;
        sddl = L"D:(A;;FA;;;SY)";
        return ERROR_SUCCESS;
    }
    DWORD EffectiveRights(const Glean::CAccessAccount& account, DWORD& mask) override
    {
        auto at = rightsErrors.find(account.name);
        if (at != rightsErrors.end())
            return at->second;
        mask = account.sidText == L"S-1-5-18" ? 0x1F01FF : 0x120089;
        return ERROR_SUCCESS;
    }
    bool IsFolder(const std::wstring& path) override { return path == L"C:\\dir"; }
};

TEST(AccessLog, LinesForEveryOutcome)
{
    Glean::CGleanAppLog log;
    CFakeAccess system;
    system.daclErrors = {{L"C:\\missing", ERROR_FILE_NOT_FOUND}, {L"C:\\secret", ERROR_ACCESS_DENIED}};
    const auto lines = Glean::BuildAccessLines(
        system, {{Glean::CAccessObject::File, L"C:\\dir"}, {Glean::CAccessObject::File, L"C:\\missing"},
                 {Glean::CAccessObject::File, L"C:\\secret"}, {Glean::CAccessObject::RegistryKey, L"MACHINE\\X"}});
    std::vector<std::wstring> expected = {Bas::Format(MSG_USER_PROFILE, L"PC\\user", L"S-1-5-21-1"),
                                          Bas::Format(MSG_SYSTEM_PROFILE, L"NT AUTHORITY\\SYSTEM", L"S-1-5-18"),
                                          L"[C:\\dir]:", L"\tSDDL: D:(A;;FA;;;SY)", L"\tPC\\user: 120089",
                                          L"\t\tREAD_CONTROL", L"\t\tFILE_LIST_DIRECTORY", L"\t\tFILE_READ_EA",
                                          L"\t\tFILE_READ_ATTRIBUTES", L"\t\tSYNCHRONIZE",
                                          L"\tNT AUTHORITY\\SYSTEM: 1f01ff"};
    const auto full = Glean::RightLines(0x1F01FF, Glean::AccessKind::Folder);
    expected.insert(expected.end(), full.begin(), full.end());
    expected.insert(expected.end(), {L"", L"[C:\\missing]:", Bas::GetText(MSG_GET_SECURITY_DESCRIPTOR_ERROR), L"",
                                     L"[C:\\secret]:", Bas::GetText(MSG_GET_SECURITY_DESCRIPTOR_DENIED), L"",
                                     L"[MACHINE\\X]:", L"\tSDDL: D:(A;;FA;;;SY)", L"\tPC\\user: 120089",
                                     L"\t\tREAD_CONTROL", L"\t\tKEY_QUERY_VALUE", L"\t\tKEY_ENUMERATE_SUB_KEYS",
                                     L"\t\t100080", L"\tNT AUTHORITY\\SYSTEM: 1f01ff"});
    const auto key = Glean::RightLines(0x1F01FF, Glean::AccessKind::RegistryKey);
    expected.insert(expected.end(), key.begin(), key.end());
    expected.push_back(L"");
    EXPECT_EQ(lines, expected);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], Bas::Format(MSG_GET_SECURITY_DESCRIPTOR_ERROR_DESCRIPTION, L"C:\\missing", L"0x00000002",
                                          Bas::GetLastErrorText(ERROR_FILE_NOT_FOUND)));

    // Without the user's SID only the system account is listed; an account
    // whose rights cannot be read gets its error line.
    const std::size_t before = log.Lines().size();
    system.hasUser = false;
    system.rightsErrors = {{L"NT AUTHORITY\\SYSTEM", ERROR_ACCESS_DENIED}};
    EXPECT_EQ(Glean::BuildAccessLines(system, {{Glean::CAccessObject::File, L"f"}}),
              (std::vector<std::wstring>{Bas::Format(MSG_SYSTEM_PROFILE, L"NT AUTHORITY\\SYSTEM", L"S-1-5-18"),
                                         L"[f]:", L"\tSDDL: D:(A;;FA;;;SY)",
                                         Bas::Format(MSG_GET_ACCESS_PERMISSION_DENIED, L"NT AUTHORITY\\SYSTEM"), L""}));
    system.rightsErrors = {{L"NT AUTHORITY\\SYSTEM", 1}};
    const auto failed = Glean::BuildAccessLines(system, {{Glean::CAccessObject::File, L"f"}});
    EXPECT_EQ(failed[3], Bas::GetText(MSG_GET_ACCESS_PERMISSION_ERROR));
    const auto logged = log.Lines();
    EXPECT_EQ(std::vector<std::wstring>(logged.begin() + before, logged.end()), (std::vector<std::wstring>{
                                  Bas::GetText(MSG_GET_USER_SID_ERROR), Bas::GetText(MSG_GET_USER_SID_ERROR),
                                  Bas::Format(MSG_GET_ACCESS_PERMISSION_ERROR_DESCRIPTION,
                                              {L"NT AUTHORITY\\SYSTEM", L"f", L"0x00000001", Bas::GetLastErrorText(1)})}));
}

// A record laid out as the system delivers it: the fixed part, source and
// computer names, one string, a little data, padding, the length again.
std::vector<BYTE> MakeRecord(const std::wstring& source, DWORD eventId, std::size_t dataLength)
{
    std::vector<BYTE> variable = Utf16(source + L'\0' + L"PC" + L'\0');
    const std::size_t stringOffset = 56 + variable.size();
    const std::vector<BYTE> text = Utf16(L"message text" + std::wstring(1, L'\0'));
    variable.insert(variable.end(), text.begin(), text.end());
    const std::size_t dataOffset = 56 + variable.size();
    for (std::size_t i = 0; i < dataLength; ++i)
        variable.push_back(static_cast<BYTE>(i));
    while ((56 + variable.size()) % 4 != 0)
        variable.push_back(0);
    const std::size_t length = 56 + variable.size() + 4;
    std::vector<BYTE> record(56);
    auto put = [&](std::size_t at, std::uint32_t v, int size = 4) {
        for (int i = 0; i < size; ++i)
            record[at + i] = static_cast<BYTE>(v >> (8 * i));
    };
    put(0, static_cast<std::uint32_t>(length));
    put(4, 0x654C664C);
    put(8, 1000 + eventId); // replaced by the writer
    put(12, 1700000000);
    put(16, 1700000001);
    put(20, eventId);
    put(24, EVENTLOG_INFORMATION_TYPE, 2);
    put(26, 1, 2);
    put(36, static_cast<std::uint32_t>(stringOffset));
    put(48, static_cast<std::uint32_t>(dataLength));
    put(52, static_cast<std::uint32_t>(dataOffset));
    record.insert(record.end(), variable.begin(), variable.end());
    record.resize(length);
    for (int i = 0; i < 4; ++i)
        record[length - 4 + i] = static_cast<BYTE>(length >> (8 * i));
    return record;
}

class CFakeRecords : public Glean::IEventRecordSource {
public:
    std::vector<std::vector<BYTE>> records;
    std::size_t next = 0;
    DWORD RecordCount() override { return static_cast<DWORD>(records.size()); }
    std::vector<BYTE> ReadNext() override { return records.at(next++); }
};

std::uint32_t Field(const std::string& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

// Where the made-up logs go: the folder the integration test names, so
// that libevt reads them too, or the test's own folder.
std::wstring EvtFolder(const Testing::CTestFolder& folder)
{
    wchar_t value[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"GLEAN_EVT_OUTPUT", value, MAX_PATH) > 0)
        return value;
    return folder.Path();
}

TEST(EventLogFile, HeaderRecordsAndEndRecord)
{
    Testing::CTestFolder folder;
    const std::wstring out = EvtFolder(folder);
    CFakeRecords fake;
    for (int i = 0; i < 12; ++i)
        fake.records.push_back(MakeRecord(i % 3 == 1 ? L"Other" : i % 3 == 2 ? L"gleantest" : L"GleanTest", i + 1,
                                          static_cast<std::size_t>(i * 37 % 101)));
    const std::wstring path = out + L"\\Made-4records.evt";
    Glean::WriteEventLogFile(fake, {L"GleanTest"}, path);
    const std::string bytes = Testing::ReadFileBytes(path);
    std::size_t kept = 0;
    for (int i = 0; i < 12; i += 3)
        kept += fake.records[i].size();
    ASSERT_EQ(bytes.size(), 48 + kept + 40);
    const std::uint32_t end = static_cast<std::uint32_t>(48 + kept);
    const std::uint32_t header[] = {48, 0x654C664C, 1, 1, 48, end, 5, 1, static_cast<std::uint32_t>(bytes.size()),
                                    0, 0, 48};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(Field(bytes, 4 * i), header[i]) << "header field " << i;
    std::size_t at = 48;
    for (int n = 1, i = 0; i < 12; i += 3, ++n) {
        const auto& record = fake.records[i];
        EXPECT_EQ(Field(bytes, at + 8), static_cast<std::uint32_t>(n));
        EXPECT_EQ(bytes.compare(at, 8, reinterpret_cast<const char*>(record.data()), 8), 0);
        EXPECT_EQ(bytes.compare(at + 12, record.size() - 12, reinterpret_cast<const char*>(record.data()) + 12,
                                record.size() - 12), 0);
        at += record.size();
    }
    const std::uint32_t eof[] = {40, 0x11111111, 0x22222222, 0x33333333, 0x44444444, 48, end, 5, 1, 40};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Field(bytes, end + 4 * i), eof[i]) << "end-of-file field " << i;

    // Every record, and none at all.
    fake.next = 0;
    Glean::WriteEventLogFile(fake, {}, out + L"\\All-12records.evt");
    EXPECT_EQ(Field(Testing::ReadFileBytes(out + L"\\All-12records.evt"), 24), 13u);
    CFakeRecords none;
    Glean::WriteEventLogFile(none, {}, out + L"\\Empty-0records.evt");
    const std::string empty = Testing::ReadFileBytes(out + L"\\Empty-0records.evt");
    ASSERT_EQ(empty.size(), 88u);
    EXPECT_EQ(Field(empty, 16), 48u);
    EXPECT_EQ(Field(empty, 20), 48u);
    EXPECT_EQ(Field(empty, 24), 1u);
    EXPECT_EQ(Field(empty, 32), 88u);
}

TEST(EventLogFile, SizeLimitAndSaveErrors)
{
    Testing::CTestFolder folder;
    Glean::CGleanAppLog log;
    CFakeRecords fake;
    for (int i = 0; i < 5; ++i)
        fake.records.push_back(MakeRecord(L"GleanTest", i, 100));
    const std::size_t one = fake.records[0].size();
    try {
        Glean::WriteEventLogFile(fake, {}, folder / L"big.evt", static_cast<std::uint32_t>(48 + 3 * one + 40));
        FAIL() << "no error";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        EXPECT_EQ(error->GetMessageText(), Bas::Format(ERR_EVENT_LOG_TOO_LARGE, folder / L"big.evt"));
    }
    // A log that cannot be saved leaves no file, only its line. (Wine opens
    // a log of any name, so a folder that is missing stands for the failure.)
    EXPECT_TRUE(Glean::SaveEventLogs({{L"Application", {}}}, folder / L"missing").empty());
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].rfind(Bas::Format(MSG_EVENT_LOG_SAVE_ERROR, L"Application", L""), 0), 0u);
    // The log goes into a temporary file of its own; a file named after the
    // log is neither read nor touched.
    folder.WriteBytes(L"Application.evt", "kept");
    const auto saved = Glean::SaveEventLogs({{L"Application", {}}}, folder.Path());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].fileName, L"Application.evt");
    EXPECT_EQ(Bas::FolderOf(saved[0].path), folder.Path());
    EXPECT_TRUE(Bas::IsTempFile(saved[0].path));
    EXPECT_EQ(Field(Testing::ReadFileBytes(saved[0].path), 4), 0x654C664Cu);
    EXPECT_EQ(folder.ReadBytes(L"Application.evt"), "kept");
    Bas::DeleteTempFile(saved[0].path);
    // A log this computer does not have is not saved, under its name, as
    // the Application log that OpenEventLogW falls back to.
    EXPECT_TRUE(Glean::SaveEventLogs({{L"NoSuchLogOfGlean", {}}}, folder.Path()).empty());
    EXPECT_FALSE(Bas::FileExists(folder / L"NoSuchLogOfGlean.evt"));
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[1], Bas::Format(MSG_EVENT_LOG_SAVE_ERROR, L"NoSuchLogOfGlean", Bas::GetLastErrorText(2)));
}

} // namespace
