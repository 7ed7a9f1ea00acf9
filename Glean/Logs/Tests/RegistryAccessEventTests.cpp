#include "AccessLog.h"
#include "Errors.h"
#include "EventLogs.h"
#include "File.h"
#include "GleanAppLog.h"
#include "MaskedBinary.h"
#include "Message.h"
#include "MessageLoopMica.h"
#include "NativeFileSystem.h"
#include "PostedQuit.h"
#include "RegistryExport.h"
#include "RegistryLink.h"
#include "TempFile.h"
#include "TestFolder.h"
#include "TextTools.h"
#include "TextStream.h"
#include "generated/GleanMessages.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <functional>
#include <map>

namespace {

// A log filter that replaces a few fixed words in one pass, as the privacy
// mask would. "user1" becoming "TWICE" shows text that went through twice.
class CWordFilter : public Bas::ILogFilter {
public:
    std::vector<std::pair<std::wstring, std::wstring>> words = {
        {L"alice", L"user1"}, {L"WORKPC", L"host1"}, {L"10.1.2.3", L"ip1"}, {L"S-1-5-21-11-22-33", L"sid7"},
        {L"S-1-5-21-44", L"hidden"}, {L"\x0410\x043B\x0438\x0441\x0430", L"user2"}, {L"user1", L"TWICE"}};
    std::vector<std::wstring> secrets;

    std::wstring Filter(const std::wstring& text, EForm) override
    {
        std::wstring result;
        for (std::size_t at = 0; at < text.size();) {
            auto word = std::find_if(words.begin(), words.end(),
                                     [&](const auto& w) { return text.compare(at, w.first.size(), w.first) == 0; });
            if (word == words.end()) {
                result += text[at++];
            } else {
                result += word->second;
                at += word->first.size();
            }
        }
        return result;
    }
    using Bas::ILogFilter::Filter;
    std::wstring SecretStandIn(const std::wstring& original) override
    {
        secrets.push_back(original);
        return L"secret" + std::to_wstring(secrets.size());
    }
};

// The filter of the process while it lives.
class CFilterSet {
public:
    explicit CFilterSet(Bas::ILogFilter& filter) { Bas::SetLogFilter(&filter); }
    ~CFilterSet() { Bas::SetLogFilter(nullptr); }
};

const std::vector<std::wstring> kOriginals = {L"alice", L"WORKPC", L"10.1.2.3", L"S-1-5-21-11-22-33"};

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

// The bytes of every hex value of an export, continuation lines included.
std::vector<std::vector<BYTE>> HexValues(const std::vector<std::wstring>& lines)
{
    std::vector<std::vector<BYTE>> values;
    bool more = false;
    for (const std::wstring& line : lines) {
        std::size_t at = 0;
        if (!more) {
            const std::size_t hex = line.find(L"=hex");
            if (hex == std::wstring::npos)
                continue;
            at = line.find(L':', hex) + 1;
            values.emplace_back();
        }
        for (; at + 1 < line.size(); ++at) {
            if (std::iswxdigit(line[at]) && std::iswxdigit(line[at + 1]))
                values.back().push_back(static_cast<BYTE>(std::stoi(line.substr(at++, 2), nullptr, 16)));
        }
        more = !line.empty() && line.back() == L'\\';
    }
    return values;
}

// Bytes read as UTF-16 from both byte positions and as single-byte text.
std::wstring AsText(const std::vector<BYTE>& bytes)
{
    std::wstring text;
    for (std::size_t start : {0u, 1u}) {
        for (std::size_t at = start; at + 1 < bytes.size(); at += 2)
            text += static_cast<wchar_t>(bytes[at] | (bytes[at + 1] << 8));
        text += L'|';
    }
    return text + std::wstring(bytes.begin(), bytes.end());
}

std::vector<BYTE> Join(std::initializer_list<std::vector<BYTE>> parts)
{
    std::vector<BYTE> joined;
    for (const auto& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

std::vector<BYTE> Ansi(const std::string& text)
{
    return std::vector<BYTE>(text.begin(), text.end());
}

TEST(MaskedBinary, TextRunsMaskedInTheirOwnEncoding)
{
    CWordFilter filter;
    // A UTF-16 run at an odd position, an ANSI run whose last byte would
    // also begin the UTF-16 run after it, a run too short to count, and
    // text in another code page.
    const auto data = Join({Bytes({1}), Utf16(L"C:\\Users\\alice"), Bytes({0, 0, 0xFF}), Ansi("at WORKPC"),
                            Utf16(L"alice"), Bytes({0}), Ansi("ali"), Bytes({0})});
    EXPECT_EQ(Glean::MaskBinary(data, filter),
              Join({Bytes({1}), Utf16(L"C:\\Users\\user1"), Bytes({0, 0, 0xFF}), Ansi("at host1"), Utf16(L"user1"),
                    Bytes({0}), Ansi("ali"), Bytes({0})}));
    EXPECT_EQ(Glean::MaskBinary(Join({Bytes({0xC0, 0xEB, 0xE8, 0xF1, 0xE0, 0})}), filter, 1251),
              Join({Ansi("user2"), Bytes({0})}));
    // An ANSI string ended by its zero with UTF-16 text right after it: the
    // name at its end is the ANSI string's.
    EXPECT_EQ(Glean::MaskBinary(Join({Ansi("by alice"), Bytes({0}), Utf16(L"xyz"), Bytes({0, 0})}), filter),
              Join({Ansi("by user1"), Bytes({0}), Utf16(L"xyz"), Bytes({0, 0})}));
    // SIDs in their binary form (as a profile's Sid value or a security
    // descriptor holds them) keep their length: the user's stand-in, the
    // null authority for anything else, a well-known SID as it is.
    const auto sid = [](int authority, std::initializer_list<std::uint32_t> parts) {
        std::vector<BYTE> bytes = {1, static_cast<BYTE>(parts.size()), 0, 0, 0, 0, 0, static_cast<BYTE>(authority)};
        for (const std::uint32_t part : parts)
            bytes.insert(bytes.end(), {static_cast<BYTE>(part), static_cast<BYTE>(part >> 8),
                                       static_cast<BYTE>(part >> 16), static_cast<BYTE>(part >> 24)});
        return bytes;
    };
    EXPECT_EQ(Glean::MaskBinary(Join({Bytes({9}), sid(5, {21, 11, 22, 33, 1001}), sid(5, {21, 44, 7}), sid(5, {18})}),
                                filter),
              Join({Bytes({9}), sid(5, {21, 0, 0, 7, 1001}), sid(0, {0, 0, 0}), sid(5, {18})}));
    // Data without originals comes back byte for byte, whatever it holds.
    std::vector<BYTE> all;
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 256; ++i)
            all.push_back(static_cast<BYTE>(i * (round + 1) + round));
    }
    all.insert(all.end(), {'x', 0, 0xE9, 0, 'y', 0, 0x14, 0x20, 'a', 'b', 0xA0, 0xFF});
    EXPECT_EQ(Glean::MaskBinary(all, filter), all);
}

// Every value type of a key, once with originals and once with their
// stand-ins written in by hand.
void AddMaskingKeys(CFakeRegistry& registry, const std::function<std::wstring(const std::wstring&)>& as)
{
    CFakeKey& key = registry.keys[as(L"Soft\\alice")];
    // Strings, an empty one among them, with their zeros and an odd byte.
    const std::wstring multi =
        as(L"alice") + std::wstring(2, L'\0') + L"x" + as(L"WORKPC") + L'\0' + std::wstring(40, L'y') + L'\0' + L'\0';
    key.values = {
        {as(L"a\"alice\\"), {REG_SZ, as(L"C:\\Users\\alice \"on\" WORKPC\nat 10.1.2.3")}},
        {L"Dword", {REG_DWORD, L"", Bytes({7, 0, 0, 0})}},
        {as(L"Expand WORKPC"),
         {REG_EXPAND_SZ, as(L"%USERPROFILE%\\..\\alice\\AppData\\Local\\on WORKPC at 10.1.2.3\\x")}},
        {as(L"Multi alice"), {REG_MULTI_SZ, L"", Join({Utf16(multi), Bytes({0x41})})}},
        {L"Bin", {REG_BINARY, L"", Join({Bytes({1, 2}), Utf16(as(L"C:\\Users\\alice")), Bytes({0, 0, 0xFF}),
                                          Ansi(Bas::Narrow(as(L"host WORKPC 10.1.2.3"), CP_ACP)), Bytes({0})})}}};
    key.subkeys = {as(L"WORKPC")};
    registry.keys[as(L"Soft\\alice\\WORKPC")];
}

TEST(RegistryExport, MaskedPiecesReadAsTheirStandIns)
{
    CWordFilter filter;
    CFakeRegistry originals;
    AddMaskingKeys(originals, [](const std::wstring& text) { return text; });
    CFakeRegistry standIns;
    CWordFilter byHand;
    AddMaskingKeys(standIns, [&](const std::wstring& text) { return byHand.Filter(text); });
    std::vector<std::wstring> expected;
    ASSERT_TRUE(Glean::CRegistryExporter(standIns).BuildLines(L"HKEY_CURRENT_USER\\Soft\\user1", expected));
    std::vector<std::wstring> masked;
    {
        CFilterSet set(filter);
        ASSERT_TRUE(Glean::CRegistryExporter(originals).BuildLines(L"HKEY_CURRENT_USER\\Soft\\alice", masked));
    }
    EXPECT_EQ(masked, expected);
    std::wstring shown;
    for (const auto& value : HexValues(masked))
        shown += AsText(value) + L"\n";
    for (const std::wstring& line : masked)
        shown += line + L"\n";
    for (const std::wstring& original : kOriginals)
        EXPECT_EQ(shown.find(original), std::wstring::npos) << original;
    for (const wchar_t* standIn : {L"user1", L"host1", L"ip1"})
        EXPECT_NE(AsText(HexValues(masked).back()).find(standIn), std::wstring::npos) << standIn;
    EXPECT_EQ(shown.find(L"TWICE"), std::wstring::npos);

    // The files of the driver hold the lines as they were masked, not
    // filtered once more on their way out.
    Testing::CTestFolder folder;
    Glean::CGleanAppLog log;
    CFilterSet set(filter);
    const auto files = Glean::ExportAll(originals, {{L"HKEY_CURRENT_USER\\Soft\\alice", L"A.reg"}}, folder.Path());
    ASSERT_EQ(files.size(), 1u);
    std::wstring written;
    for (const std::wstring& line : expected)
        written += line + L"\r\n";
    const auto bytes = Join({Bytes({0xFF, 0xFE}), Utf16(written)});
    EXPECT_EQ(Testing::ReadFileBytes(files[0].path), std::string(bytes.begin(), bytes.end()));
    Bas::DeleteTempFile(files[0].path);
}

TEST(RegistryExport, SecretValuesKeepOnlyTheirStandIns)
{
    CWordFilter filter;
    CFakeRegistry registry;
    registry.keys[L"S"].values = {
        {L"DbPassword", {REG_SZ, L"hunter2 alice"}},
        {L"api_token", {REG_BINARY, L"", Bytes({0x0A, 0xFF})}},
        {L"MyCredentials", {REG_EXPAND_SZ, L"%x%"}},
        {L"SecretList", {REG_MULTI_SZ, L"", Utf16(std::wstring(L"a\0\0b\0\0", 6))}},
        {L"PASSWDCount", {REG_DWORD, L"", Bytes({42, 0, 0, 0})}},
        {L"Quad token", {REG_QWORD, L"", Bytes({1, 0, 0, 0, 0, 0, 0, 0})}},
        {L"Tokenless alice", {REG_SZ, L"", {}, ERROR_ACCESS_DENIED}}};
    std::vector<std::wstring> lines;
    CFilterSet set(filter);
    ASSERT_TRUE(Glean::CRegistryExporter(registry).BuildLines(L"HKEY_CURRENT_USER\\S", lines));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[3], L"\"DbPassword\"=\"secret1\"");
    EXPECT_EQ(lines[4].substr(0, 16), L"\"api_token\"=hex:");
    EXPECT_EQ(lines[5].substr(0, 23), L"\"MyCredentials\"=hex(2):");
    EXPECT_EQ(lines[6].substr(0, 20), L"\"SecretList\"=hex(7):");
    EXPECT_EQ(lines[7], L"\"PASSWDCount\"=\"secret5\"");
    EXPECT_EQ(lines[8], L"\"Tokenless user1\"=\"\" ; error(0x00000005)");
    EXPECT_EQ(HexValues(lines), (std::vector<std::vector<BYTE>>{Utf16(L"secret2"), Utf16(std::wstring(L"secret3\0", 8)),
                                                               Utf16(std::wstring(L"secret4\0\0", 9))}));
    EXPECT_EQ(filter.secrets,
              (std::vector<std::wstring>{L"hunter2 alice", L"hex:0A,FF", L"%x%", L"a\\0\\0b", L"dword:0000002a"}));
}

// A scratch key whose subkey Child holds a link Up back to the scratch key.
// Followed, the link would repeat the two keys until the path limit.
TEST(RegistryExport, LinkToAnAncestorIsWrittenOnceAsALink)
{
    const std::wstring scratch = L"Software\\GleanTests\\Links";
    const std::wstring link = scratch + L"\\Child\\Up";
    Testing::DeleteUserLink(link);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, scratch.c_str());
    Bas::CRegistryKey child;
    ASSERT_TRUE(child.Open(HKEY_CURRENT_USER, (scratch + L"\\Child").c_str(), Bas::CRegistryKey::Create));
    child.WriteString(L"v", L"1");
    ASSERT_EQ(Testing::MakeUserLink(link, scratch), ERROR_SUCCESS);
    Glean::CWindowsRegistrySource registry;
    auto exportLines = [&] {
        std::vector<std::wstring> lines;
        EXPECT_TRUE(Glean::CRegistryExporter(registry).BuildLines(L"HKEY_CURRENT_USER\\" + scratch, lines));
        return lines;
    };
    const std::vector<std::wstring> lines = exportLines();
    const std::wstring root = L"[HKEY_CURRENT_USER\\" + scratch;
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(std::vector<std::wstring>(lines.begin(), lines.begin() + 8),
              (std::vector<std::wstring>{L"Windows Registry Editor Version 5.00", L"", root + L"]", L"",
                                         root + L"\\Child]", L"\"v\"=\"1\"", L"", root + L"\\Child\\Up]"}));
    EXPECT_EQ(lines[8].substr(0, 27), L"\"SymbolicLinkValue\"=hex(6):");
    EXPECT_TRUE(std::all_of(lines.begin() + 9, lines.end(), [](const std::wstring& l) { return l.substr(0, 2) == L"  "; }));
    EXPECT_EQ(HexValues(lines), std::vector<std::vector<BYTE>>{Utf16(Testing::UserKeyNativeName(scratch))});
    // Masked, the name the link holds is masked as text.
    {
        CWordFilter filter;
        filter.words.push_back({L"Links", L"Masked"});
        CFilterSet set(filter);
        const auto masked = exportLines();
        EXPECT_EQ(masked[7], L"[HKEY_CURRENT_USER\\Software\\GleanTests\\Masked\\Child\\Up]");
        EXPECT_EQ(HexValues(masked),
                  std::vector<std::vector<BYTE>>{Utf16(filter.Filter(Testing::UserKeyNativeName(scratch)))});
    }
    EXPECT_TRUE(Testing::DeleteUserLink(link));
    ::RegDeleteTreeW(HKEY_CURRENT_USER, scratch.c_str());
}

// Every key holds itself again, as a followed link to its parent would.
class CLoopingRegistry : public Glean::IRegistrySource {
public:
    class CKey : public Glean::IRegistryKeySource {
    public:
        std::vector<Bas::CRegistryKey::CValue> Values() override { return {{L"v", REG_SZ, Utf16(L"x"), ERROR_SUCCESS}}; }
        std::vector<std::wstring> SubkeyNames() override { return {L"Loop"}; }
    };
    std::unique_ptr<Glean::IRegistryKeySource> Open(HKEY, const std::wstring&) override
    {
        return std::make_unique<CKey>();
    }
};

std::wstring Utf16Text(const std::string& bytes)
{
    std::wstring text(bytes.size() / 2, L'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * 2);
    return text;
}

TEST(RegistryExport, DepthIsBoundedWhateverTheSource)
{
    Testing::CTestFolder folder;
    Glean::CGleanAppLog log;
    CLoopingRegistry registry;
    const auto files = Glean::ExportAll(registry, {{L"HKEY_CURRENT_USER\\L", L"L.reg"}}, folder.Path());
    ASSERT_EQ(files.size(), 1u);
    std::wstring cut = L"HKEY_CURRENT_USER\\L";
    for (std::size_t i = 0; i < Glean::CRegistryExporter::kMaxDepth; ++i)
        cut += L"\\Loop";
    EXPECT_EQ(log.Lines(), std::vector<std::wstring>{Bas::Format(MSG_REGISTRY_TOO_DEEP, cut, L"512")});
    const std::wstring text = Utf16Text(Testing::ReadFileBytes(files[0].path));
    std::size_t keys = 0;
    for (std::size_t at = text.find(L"\r\n["); at != std::wstring::npos; at = text.find(L"\r\n[", at + 1))
        ++keys;
    EXPECT_EQ(keys, Glean::CRegistryExporter::kMaxDepth + 1);
    const std::wstring last = L"\r\n[" + cut + L"]\r\n\"v\"=\"x\"\r\n";
    ASSERT_GE(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
    Bas::DeleteTempFile(files[0].path);
}

// The export reaches its file while it is made, not once it is whole, and
// the file holds the lines byte for byte.
TEST(RegistryExport, LinesReachTheFileAsTheyAreMade)
{
    Testing::CTestFolder folder;
    Glean::CGleanAppLog log;
    class CWatchedRegistry : public CFakeRegistry {
    public:
        std::wstring folder;
        std::uint64_t sizeAtLastKey = 0;
        std::unique_ptr<Glean::IRegistryKeySource> Open(HKEY root, const std::wstring& path) override
        {
            if (path == L"Big\\K2999") {
                const auto files = Bas::ListFolderEntries(folder, L"GRL*", Bas::FindFileEntries);
                EXPECT_EQ(files.size(), 1u);
                if (!files.empty())
                    Bas::FileExists(Bas::JoinPath(folder, files[0].name), sizeAtLastKey);
            }
            return CFakeRegistry::Open(root, path);
        }
    } registry;
    registry.folder = folder.Path();
    for (int i = 0; i < 3000; ++i) {
        const std::wstring name = L"K" + std::to_wstring(i);
        registry.keys[L"Big"].subkeys.push_back(name);
        registry.keys[L"Big\\" + name].values = {{L"v", {REG_SZ, std::wstring(20, L'x')}}};
    }
    const auto files = Glean::ExportAll(registry, {{L"HKEY_CURRENT_USER\\Big", L"Big.reg"}}, folder.Path());
    ASSERT_EQ(files.size(), 1u);
    std::vector<std::wstring> lines;
    ASSERT_TRUE(Glean::CRegistryExporter(registry).BuildLines(L"HKEY_CURRENT_USER\\Big", lines));
    std::wstring expected = L"\xFEFF";
    for (const std::wstring& line : lines)
        expected += line + L"\r\n";
    const std::string bytes = Testing::ReadFileBytes(files[0].path);
    EXPECT_EQ(Utf16Text(bytes), expected);
    EXPECT_GT(registry.sizeAtLastKey, bytes.size() / 2);
    Bas::DeleteTempFile(files[0].path);
}

// Each request whose temporary file cannot be made fails with its line and
// its error; a quit alone ends the exports.
TEST(RegistryExport, ARequestWhoseFileFailsIsItsLine)
{
    Testing::CTestFolder folder;
    Glean::CGleanAppLog log;
    CLoopingRegistry registry;
    std::vector<Glean::CRegistryExportIssue> issues;
    const auto files = Glean::ExportAll(
        registry, {{L"HKEY_CURRENT_USER\\L", L"L.reg"}, {L"HKEY_CURRENT_USER\\M", L"M.reg"}}, folder / L"gone", &issues);
    EXPECT_TRUE(files.empty());
    ASSERT_EQ(issues.size(), 2u);
    EXPECT_EQ(issues[1].fileName, L"M.reg");
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[0], Bas::Format(MSG_REGISTRY_EXPORT_FAILED, L"HKEY_CURRENT_USER\\L", issues[0].error->GetMessageText()));
}

TEST(RegistryExport, AQuitEndsTheExportsAndLeavesNoFile)
{
    Testing::CTestFolder folder;
    Glean::CGleanAppLog log;
    CLoopingRegistry registry;
    Testing::CPostedQuit quit;
    try {
        Glean::ExportAll(registry, {{L"HKEY_CURRENT_USER\\L", L"L.reg"}, {L"HKEY_CURRENT_USER\\M", L"M.reg"}},
                         folder.Path());
        FAIL() << "the quit did not end the exports";
    } catch (Bas::CUserException* raw) {
        Bas::Own(raw);
    }
    EXPECT_TRUE(Bas::ListFolderEntries(folder.Path(), L"*", Bas::FindFileEntries).empty());
    EXPECT_TRUE(log.Lines().empty());
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

// A quit seen by the pump the writer is given ends the writing before the
// next record is read.
TEST(EventLogFile, AQuitEndsTheWriting)
{
    Testing::CTestFolder folder;
    CFakeRecords fake;
    for (int i = 0; i < 3; ++i)
        fake.records.push_back(MakeRecord(L"GleanTest", i + 1, 8));
    Testing::CPostedQuit quit;
    try {
        Glean::WriteEventLogFile(fake, {}, folder / L"quit.evt", Glean::kEventLogFileLimit,
                                 [] { Mica::PumpMessagesNowAndThen(); });
        FAIL() << "the quit did not end the writing";
    } catch (Bas::CUserException* raw) {
        Bas::Own(raw);
    }
    EXPECT_EQ(fake.next, 0u);
}

std::uint32_t Field(const std::vector<BYTE>& bytes, std::size_t at)
{
    return Field(std::string(bytes.begin(), bytes.end()), at);
}

std::vector<BYTE> SidBytes(const std::wstring& text)
{
    PSID sid = nullptr;
    if (text.empty() || !::ConvertStringSidToSidW(text.c_str(), &sid))
        return {};
    Bas::CLocalMemory owner(sid);
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + ::GetLengthSid(sid));
}

// A record with every part: the names, the SID, the strings and the data,
// laid out as the system lays it out.
std::vector<BYTE> MakeFullRecord(const std::wstring& source, const std::wstring& computer, const std::wstring& sidText,
                                 const std::vector<std::wstring>& strings, const std::vector<BYTE>& data)
{
    std::vector<BYTE> record(56);
    auto put = [&](std::size_t at, std::size_t v) {
        for (int i = 0; i < 4; ++i)
            record[at + i] = static_cast<BYTE>(v >> (8 * i));
    };
    put(4, 0x654C664C);
    put(12, 1700000000);
    put(16, 1700000001);
    put(20, 4624);
    put(24, EVENTLOG_AUDIT_SUCCESS);
    auto append = [&](const std::vector<BYTE>& bytes) { record.insert(record.end(), bytes.begin(), bytes.end()); };
    append(Utf16(source + L'\0' + computer + L'\0'));
    while (record.size() % 4 != 0)
        record.push_back(0);
    const std::vector<BYTE> sid = SidBytes(sidText);
    put(40, sid.size());
    put(44, record.size());
    append(sid);
    put(36, record.size());
    record[26] = static_cast<BYTE>(strings.size());
    for (const std::wstring& text : strings)
        append(Utf16(text + L'\0'));
    put(48, data.size());
    put(52, record.size());
    append(data);
    while (record.size() % 4 != 0)
        record.push_back(0);
    record.resize(record.size() + 4);
    put(0, record.size());
    put(record.size() - 4, record.size());
    return record;
}

struct CReadRecord {
    std::wstring source, computer, sid;
    std::vector<std::wstring> strings;
    std::vector<BYTE> data;
};

// A record read from its own offsets and lengths, as a classic reader reads
// it, with the checks of its frame.
CReadRecord ReadRecord(const std::vector<BYTE>& record)
{
    CReadRecord read;
    EXPECT_EQ(record.size() % 4, 0u);
    EXPECT_EQ(Field(record, 0), record.size());
    EXPECT_EQ(Field(record, record.size() - 4), record.size());
    auto text = [&](std::size_t& at) {
        std::wstring value;
        for (; at + 1 < record.size() && (record[at] | record[at + 1]) != 0; at += 2)
            value += static_cast<wchar_t>(record[at] | (record[at + 1] << 8));
        EXPECT_LT(at + 1, record.size());
        at += 2;
        return value;
    };
    std::size_t at = 56;
    read.source = text(at);
    read.computer = text(at);
    EXPECT_EQ(Field(record, 44) % 4, 0u);
    if (Field(record, 40) > 0) {
        const auto sidAt = record.begin() + Field(record, 44);
        std::vector<BYTE> sid(sidAt, sidAt + Field(record, 40));
        EXPECT_TRUE(::IsValidSid(sid.data()));
        EXPECT_EQ(::GetLengthSid(sid.data()), sid.size());
        wchar_t* raw = nullptr;
        if (::ConvertSidToStringSidW(sid.data(), &raw)) {
            Bas::CLocalMemory owner(raw);
            read.sid = raw;
        }
    }
    at = Field(record, 36);
    const unsigned count = record[26] | (record[27] << 8);
    for (unsigned i = 0; i < count; ++i)
        read.strings.push_back(text(at));
    EXPECT_LE(static_cast<std::size_t>(Field(record, 52)) + Field(record, 48), record.size() - 4);
    read.data.assign(record.begin() + Field(record, 52), record.begin() + Field(record, 52) + Field(record, 48));
    return read;
}

TEST(EventLogMask, RecordRebuiltWithItsOffsets)
{
    CWordFilter filter;
    const auto data = Join({Bytes({1, 2, 3}), Utf16(L"C:\\Users\\alice"), Bytes({0})});
    const auto record = MakeFullRecord(L"alice-app", L"WORKPC", L"S-1-5-21-11-22-33-1001",
                                       {L"alice logged on", L"", L"from 10.1.2.3"}, data);
    const auto masked = Glean::MaskEventRecord(record, filter);
    const CReadRecord read = ReadRecord(masked);
    EXPECT_EQ(read.source, L"user1-app");
    EXPECT_EQ(read.computer, L"host1");
    EXPECT_EQ(read.sid, L"S-1-5-21-0-0-7-1001");
    EXPECT_EQ(read.strings, (std::vector<std::wstring>{L"user1 logged on", L"", L"from ip1"}));
    EXPECT_EQ(read.data, Join({Bytes({1, 2, 3}), Utf16(L"C:\\Users\\user1"), Bytes({0})}));
    // The fixed fields but the offsets and lengths stay.
    EXPECT_TRUE(std::equal(record.begin() + 4, record.begin() + 36, masked.begin() + 4));
    // A SID masked to anything else becomes the null SID; one the filter
    // leaves alone stays; none stays none.
    EXPECT_EQ(ReadRecord(Glean::MaskEventRecord(MakeFullRecord(L"s", L"c", L"S-1-5-21-44-1", {}, {}), filter)).sid,
              L"S-1-0-0");
    EXPECT_EQ(ReadRecord(Glean::MaskEventRecord(MakeFullRecord(L"s", L"c", L"S-1-5-18", {}, {}), filter)).sid,
              L"S-1-5-18");
    EXPECT_EQ(Field(Glean::MaskEventRecord(MakeFullRecord(L"s", L"c", L"", {L"x"}, {}), filter), 40), 0u);
}

TEST(EventLogMask, PartsOutsideTheRecordAreLeftOut)
{
    CWordFilter filter;
    const auto whole = MakeFullRecord(L"GleanTest", L"WORKPC", L"S-1-5-21-11-22-33-500", {L"alice", L"at 10.1.2.3"},
                                      Utf16(L"alice on WORKPC"));
    // Cut short anywhere, the record still reads whole, and what the cut
    // took off its end is gone rather than copied unmasked.
    for (std::size_t size = 56; size < whole.size(); ++size) {
        const auto masked = Glean::MaskEventRecord(std::vector<BYTE>(whole.begin(), whole.begin() + size), filter);
        const CReadRecord read = ReadRecord(masked);
        const std::wstring shown = AsText(masked);
        for (const std::wstring& original : kOriginals)
            EXPECT_EQ(shown.find(original), std::wstring::npos) << original << " at size " << size;
        EXPECT_EQ(read.sid.empty(), size < Field(whole, 44) + Field(whole, 40)) << size;
        EXPECT_EQ(read.strings.size(), size < Field(whole, 52) ? 0u : 2u) << size;
        EXPECT_EQ(read.data.empty(), size < Field(whole, 52) + Field(whole, 48)) << size;
    }
    // Offsets and lengths far past the end, and a SID inside the fixed part.
    auto wild = whole;
    for (std::size_t at : {36u, 48u})
        std::fill(wild.begin() + at, wild.begin() + at + 4, 0xF0);
    std::fill(wild.begin() + 44, wild.begin() + 48, 0);
    const CReadRecord read = ReadRecord(Glean::MaskEventRecord(wild, filter));
    EXPECT_EQ(read.computer, L"host1");
    EXPECT_TRUE(read.sid.empty() && read.strings.empty() && read.data.empty());
}

// A masked log of made-up records for libevt, written where GLEAN_MASKED_EVT
// says (into the test's own folder without it).
TEST(EventLogMask, WritesTheSampleForIndependentReaders)
{
    Testing::CTestFolder folder;
    wchar_t target[MAX_PATH] = {};
    const std::wstring path =
        ::GetEnvironmentVariableW(L"GLEAN_MASKED_EVT", target, MAX_PATH) > 0 ? target : folder / L"masked.evt";
    CWordFilter filter;
    CFakeRecords fake;
    const auto data = Join({Bytes({0xDE, 0xAD}), Utf16(L"C:\\Users\\alice"), Bytes({0}), Ansi("10.1.2.3")});
    // Kept by the source names they have before masking.
    fake.records = {MakeFullRecord(L"alice-app", L"WORKPC", L"S-1-5-21-11-22-33-1001", {L"alice", L"10.1.2.3"}, data),
                    MakeFullRecord(L"Other", L"WORKPC", L"", {L"alice"}, {}),
                    MakeFullRecord(L"GleanTest", L"WORKPC", L"S-1-5-21-44-7", {L"", L"x alice"}, Bytes({1, 2, 3})),
                    MakeFullRecord(L"GleanTest", L"WORKPC", L"S-1-5-18", {}, {}),
                    MakeFullRecord(L"GleanTest", L"WORKPC", L"", {L"cut"}, Utf16(L"alice"))};
    fake.records.back().resize(fake.records.back().size() - 12);
    {
        CFilterSet set(filter);
        Glean::WriteEventLogFile(fake, {L"alice-app", L"GleanTest"}, path);
    }
    // libevt reads the records back but shows no event data: no original
    // is left anywhere in the file.
    const std::string bytes = Testing::ReadFileBytes(path);
    for (const std::wstring& original : kOriginals)
        EXPECT_EQ(AsText(std::vector<BYTE>(bytes.begin(), bytes.end())).find(original), std::wstring::npos);
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
