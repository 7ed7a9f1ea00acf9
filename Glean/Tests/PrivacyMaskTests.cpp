#include "PrivacyMask.h"
#include "RegistryKey.h"
#include "TestFolder.h"
#include "ZipCompressor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Glean::CPrivacyMask;
using Cases = std::vector<std::pair<std::wstring, std::wstring>>;

CPrivacyMask::CConfig Config()
{
    CPrivacyMask::CConfig config;
    config.users = {L"jdoe", L"j.doe"};
    config.hosts = {L"ACME-PC"};
    config.domains = {L"ACME"};
    config.words = {L"Project Falcon", L"falc"};
    config.secrets = {L"s3cr3t-value", L"abc"};
    config.keptMail = L"Support@Zarvo.com";
    return config;
}

// One mask over lines in their order: stand-ins are numbered as they are
// first given and kept for the rest.
void ExpectMasked(CPrivacyMask& mask, const Cases& cases, Bas::ILogFilter::EForm form = Bas::ILogFilter::Plain)
{
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(mask.Filter(text, form), expected) << Granite::ToUtf8(text);
}

TEST(PrivacyMask, ReplacesWhatItShouldAndNothingElse)
{
    CPrivacyMask mask(Config());
    const Cases cases = {
        {L"User jdoe logged on ACME-PC", L"User user1 logged on host1"},
        {L"JDOE, Jdoe and jdoe", L"user1, user1 and user1"},
        // Names are whole words; "_" parts words.
        {L"jdoes xjdoe jdoe2 jdoe_cv.docx", L"jdoes xjdoe jdoe2 user1_cv.docx"},
        {L"C:\\Users\\j.doe\\AppData", L"C:\\Users\\user2\\AppData"},
        {L"ACME\\jdoe on ACME-PC.acme.local", L"domain1\\user1 on host1.domain1.local"},
        {L"Project Falcon is falconry", L"word1 is word2onry"}, // listed words wherever they are
        // A secret shorter than four characters only as a whole token.
        {L"TOKEN=s3cr3t-value;x=abc [abc] abcd xabc abc1", L"TOKEN=secret1;x=secret2 [secret2] abcd xabc abc1"},
        {L"mail jdoe@acme.com, support@zarvo.com.", L"mail mail1, support@zarvo.com."},
        {L"j\u00F6rg@acme.com, jos\u00E9@b\u00FCcher.de", L"mail2, mail3"},
        {L"ping 10.0.0.15.", L"ping ip1."},
        {L"gateway 192.168.1.1\r\n", L"gateway ip2\r\n"},
        {L"10.0.0.15 again", L"ip1 again"},
        // An address in brackets is one in plain text.
        {L"from [192.168.10.20] 300.1.1.1 1.2.3.4.5 6.1.7601.17514", L"from [ip3] 300.1.1.1 1.2.3.4.5 6.1.7601.17514"},
        {L"loopback ::1, link fe80::1ff:fe23:4567:890a%3", L"loopback ip4, link ip5%3"},
        {L"net 2001:db8:: and 2001:0db8:0000:0000:0000:ff00:0042:8329", L"net ip6 and ip7"},
        {L"mapped ::ffff:192.0.2.128 end", L"mapped ip8 end"},
        {L"at 2026-12-09 12:30:45.123 std::vector", L"at 2026-12-09 12:30:45.123 std::vector"},
        {L"mac 00-1A-2B-3C-4D-5E = 00:1a:2b:3c:4d:5e", L"mac mac1 = mac1"},
        {L"not 00-1A-2B-3C-4D-5E-6F", L"not 00-1A-2B-3C-4D-5E-6F"},
    };
    ExpectMasked(mask, cases);
    const auto counts = mask.Counts();
    EXPECT_EQ(counts[CPrivacyMask::User], 2u);
    EXPECT_EQ(counts[CPrivacyMask::Ip], 8u);
    EXPECT_EQ(counts[CPrivacyMask::Mac], 1u);
    const auto key = mask.Key();
    ASSERT_GE(key.size(), 3u);
    EXPECT_EQ(key[0], (std::pair<std::wstring, std::wstring>{L"user1", L"jdoe"}));
    EXPECT_EQ(key[1], (std::pair<std::wstring, std::wstring>{L"host1", L"ACME-PC"}));
}

// Pieces of digests and GUIDs stay, but a secret of many hex digits is
// itself wherever it stands; a registry export's escaped form is the same
// secret; at equal length a listed word goes before a name.
TEST(PrivacyMask, WordsAndSecretsSpareDigestsAndMatchEscapedForms)
{
    CPrivacyMask::CConfig config;
    config.domains = {L"ACME"};
    config.words = {L"cafe", L"acme"};
    config.secrets = {L"pa\\ss\"wd", L"0123456789abcdef0123", L"abc"};
    CPrivacyMask mask(config);
    const Cases cases = {
        {L"{0123CAFE-0000-1111-2222-333344445555} 89abcafe00112233445566778899aabb abc-0123456789abcdef",
         L"{0123CAFE-0000-1111-2222-333344445555} 89abcafe00112233445566778899aabb abc-0123456789abcdef"},
        {L"cafe-babe, cafe_0123456789abcdef0123", L"word1-babe, word1_secret1"},
        {L"id-0123456789abcdef0123-ff 89ab0123456789ABCDEF0123", L"id-secret1-ff 89absecret1"},
        {L"ACME and acme", L"word2 and word2"},
        {L"\"Password\"=\"pa\\\\ss\\\"wd\" and pa\\ss\"wd", L"\"Password\"=\"secret2\" and secret2"},
    };
    ExpectMasked(mask, cases);
    EXPECT_EQ(mask.Key(), (std::vector<std::pair<std::wstring, std::wstring>>{{L"word1", L"cafe"},
                                                                              {L"secret1", L"0123456789abcdef0123"},
                                                                              {L"word2", L"ACME"},
                                                                              {L"secret2", L"pa\\ss\"wd"}}));
}

// Built-in accounts and folders are no one's name; the SID's domain part
// goes, its RID stays; the registered owner and organisation go.
TEST(PrivacyMask, AccountNamesSidsAndOrganisations)
{
    CPrivacyMask::CConfig config;
    config.users = {L"SYSTEM", L"jsmith", L"JOHNSM~1", L"Jonas Owner", L"root"};
    config.hosts = {L"Public", L"Default"};
    config.domains = {L"temp", L"Users", L"NT AUTHORITY"};
    config.organizations = {L"Acme Works"};
    config.sids = {L"S-1-5-21-1004336348-1177238915-682003330-1001", L"S-1-5-18", L"S-1-12-1-111-222-333-444"};
    CPrivacyMask mask(config);
    const Cases cases = {
        {L"HKLM\\SYSTEM\\CurrentControlSet C:\\Users\\Public C:\\Users\\Default %TEMP% NT AUTHORITY\\SYSTEM",
         L"HKLM\\SYSTEM\\CurrentControlSet C:\\Users\\Public C:\\Users\\Default %TEMP% NT AUTHORITY\\SYSTEM"},
        {L"C:\\Users\\JOHNSM~1\\AppData and C:\\Users\\jsmith", L"C:\\Users\\user1\\AppData and C:\\Users\\user2"},
        {L"Licensed to Jonas Owner, Acme Works.", L"Licensed to user3, org1."},
        // A root key's name is nobody's name, a user called root's neither.
        {L"[HKEY_CLASSES_ROOT\\root_files] HKEY_ROOT", L"[HKEY_CLASSES_ROOT\\user4_files] HKEY_ROOT"},
        {L"[CLASSES_ROOT\\.txt] [MACHINE\\root] XCLASSES_ROOT", L"[CLASSES_ROOT\\.txt] [MACHINE\\user4] XCLASSES_user4"},
        {L"HKEY_USERS\\S-1-5-21-1004336348-1177238915-682003330-1001_Classes", L"HKEY_USERS\\sid1-1001_Classes"},
        {L"S-1-5-21-1004336348-1177238915-682003330-500 S-1-5-21-1004336348-1177238915-6820033301",
         L"sid1-500 S-1-5-21-1004336348-1177238915-6820033301"},
        {L"S-1-5-18 S-1-5-32-544 S-1-12-1-111-222-333-444", L"S-1-5-18 S-1-5-32-544 sid2"},
    };
    ExpectMasked(mask, cases);
    const auto counts = mask.Counts();
    EXPECT_EQ(counts[CPrivacyMask::User], 4u);
    EXPECT_EQ(counts[CPrivacyMask::Sid], 2u);
    EXPECT_EQ(counts[CPrivacyMask::Org], 1u);
}

// The main log's module rows keep their versions; a dotted quad in brackets
// anywhere else is an address.
TEST(PrivacyMask, BracketedVersionsStayOnlyInModuleRows)
{
    CPrivacyMask mask(Config());
    ExpectMasked(mask,
                 {{L"Dll & Exe Versions:\r\nShell32.dll\t[6.1.7601.17514]\r\nusp10.dll\t\t[1.0.0.0]\r\n"
                   L"Product.exe\t[2.0.0.5]\r\nfrom host [192.168.10.20]\r\nname\t\t\t[1.2.3.4]\r\n\t[1.2.3.5]\r\n"
                   L"Glean.exe\t[1.0.0.1] x\nlast.dll\t[1.0.0.2]",
                   L"Dll & Exe Versions:\r\nShell32.dll\t[6.1.7601.17514]\r\nusp10.dll\t\t[1.0.0.0]\r\n"
                   L"Product.exe\t[2.0.0.5]\r\nfrom host [ip1]\r\nname\t\t\t[ip2]\r\n\t[ip3]\r\n"
                   L"Glean.exe\t[ip4] x\nlast.dll\t[1.0.0.2]"}},
                 Bas::ILogFilter::MainLog);
    EXPECT_EQ(mask.Filter(L"usp10.dll\t\t[1.0.0.0]"), L"usp10.dll\t\t[ip5]");
}

// Lines of nothing but address characters, or one long GUID-like run full of
// a listed word, are read once: backing off one character at a time, or
// reading the run again at every word, would take hours. So is a file of
// nothing but new addresses read ahead piece by piece: going over the ones
// found so far at every piece would too.
TEST(PrivacyMask, LongLinesInLinearTime)
{
    CPrivacyMask::CConfig config = Config();
    config.words.push_back(L"cafe");
    CPrivacyMask mask(config);
    const std::size_t size = 1 << 20;
    std::wstring dots, hex, dashes;
    while (dots.size() < size)
        dots += L":.:::..";
    while (hex.size() < size / 2)
        hex += L"c0ffee:";
    hex.append(size / 2, L':');
    while (dashes.size() < size)
        dashes += L"cafe-";
    const auto start = std::chrono::steady_clock::now();
    for (const std::wstring* line : {&dots, &hex, &dashes})
        EXPECT_TRUE(mask.Filter(*line) == *line);
    CPrivacyMask::CNovel novel;
    for (int i = 0; i < 100000; ++i)
        mask.FilterKnown(L"host 10." + std::to_wstring(i >> 16) + L"." + std::to_wstring(i >> 8 & 255) + L"." +
                             std::to_wstring(i & 255) + L" up\r\n",
                         Bas::ILogFilter::Plain, novel);
    EXPECT_EQ(novel.originals.size(), 100000u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// Files masked ahead on other threads, their new originals registered when
// the writer reaches them, number every stand-in as one thread masking
// everything in archive order does.
TEST(PrivacyMask, KnownOriginalsRegisteredInArchiveOrderNumberAsFilterDoes)
{
    CPrivacyMask::CConfig config = Config();
    config.secrets.push_back(L"pa\\ss");
    // The archive's order: the writer's own text, a file, the writer's, a file.
    const std::wstring texts[] = {
        L"User jdoe at 10.0.0.1",
        L"from 10.0.0.2 and 10.0.0.1, jdoe on ACME-PC, mac 00-1A-2B-3C-4D-5E = 00:1a:2b:3c:4d:5e, pa\\\\ss",
        L"host ACME-PC at 10.0.0.3",
        L"10.0.0.3, 10.0.0.4 and 10.0.0.2, PA\\ss, j.doe",
    };
    CPrivacyMask serial(config);
    std::vector<std::wstring> expected;
    for (const std::wstring& text : texts)
        expected.push_back(serial.Filter(text));

    CPrivacyMask mask(config);
    CPrivacyMask::CNovel novel[4];
    for (const int file : {1, 3})
        EXPECT_EQ(mask.FilterKnown(texts[file], Bas::ILogFilter::Plain, novel[file]), L"");
    // Each original once (the MAC's two spellings are one); one listed
    // already is not listed again.
    EXPECT_EQ(novel[1].originals.size(), 6u);
    mask.FilterKnown(texts[1], Bas::ILogFilter::Plain, novel[1]);
    EXPECT_EQ(novel[1].originals.size(), 6u);
    for (int i = 0; i < 4; ++i) {
        if (i % 2 == 0) {
            EXPECT_EQ(mask.Filter(texts[i]), expected[i]);
            continue;
        }
        mask.Register(novel[i].originals);
        CPrivacyMask::CNovel none;
        EXPECT_EQ(mask.FilterKnown(texts[i], Bas::ILogFilter::Plain, none), expected[i]);
        EXPECT_TRUE(none.originals.empty());
    }
    EXPECT_EQ(mask.Key(), serial.Key());
    EXPECT_EQ(mask.Counts(), serial.Counts());
}

// Workers filter with the stand-ins known so far while the writer gives new
// ones: every result they may use is the one the writer's numbering gives.
TEST(PrivacyMask, FilterKnownOnWorkersWhileFilterGivesStandIns)
{
    std::vector<std::wstring> texts;
    for (int i = 0; i < 400; ++i)
        texts.push_back(L"jdoe at 10.1." + std::to_wstring(i / 200) + L"." + std::to_wstring(i % 200) +
                        L" from ACME-PC");
    std::vector<std::wstring> expected(texts.size());
    {
        CPrivacyMask serial(Config());
        for (std::size_t i = 0; i < texts.size(); ++i)
            expected[i] = serial.Filter(texts[i]);
    }
    CPrivacyMask mask(Config());
    std::atomic<bool> done = false;
    std::atomic<int> wrong = 0, used = 0;
    std::vector<std::thread> workers;
    for (int worker = 0; worker < 4; ++worker)
        workers.emplace_back([&, worker] {
            for (bool last = false; !last;) {
                last = done;
                for (std::size_t k = 0; k < texts.size(); ++k) {
                    const std::size_t i = (k + worker * 97) % texts.size();
                    CPrivacyMask::CNovel novel;
                    const std::wstring result = mask.FilterKnown(texts[i], Bas::ILogFilter::Plain, novel);
                    if (novel.originals.empty() && (++used, result != expected[i]))
                        ++wrong;
                }
            }
        });
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(mask.Filter(texts[i]), expected[i]);
    done = true;
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(used.load(), 0);
    EXPECT_EQ(mask.Key().size(), texts.size() + 2);
}

// What this computer gives: the profile folder's names long and short, the
// registered owner and organisation (set here for the test) and the SID,
// whose domain part is masked.
TEST(PrivacyMask, NamesOfThisComputer)
{
    Testing::CTestFolder folder;
    const std::wstring profile = folder / L"Johnathan Smithers";
    ASSERT_TRUE(::CreateDirectoryW(profile.c_str(), nullptr));
    wchar_t saved[MAX_PATH] = {};
    ASSERT_GT(::GetEnvironmentVariableW(L"USERPROFILE", saved, MAX_PATH), 0u);
    Bas::CRegistryKey key;
    ASSERT_TRUE(key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                         Bas::CRegistryKey::Create, Bas::CRegistryKey::View64));
    const std::wstring owner = key.ReadString(L"RegisteredOwner");
    const std::wstring organization = key.ReadString(L"RegisteredOrganization");
    key.WriteString(L"RegisteredOwner", L"Jonas Owner");
    key.WriteString(L"RegisteredOrganization", L"Owlbear Works");
    ::SetEnvironmentVariableW(L"USERPROFILE", profile.c_str());
    const CPrivacyMask::CConfig config = Glean::PrivateNamesOfThisComputer({}, L"");
    ::SetEnvironmentVariableW(L"USERPROFILE", saved);
    key.WriteString(L"RegisteredOwner", owner);
    key.WriteString(L"RegisteredOrganization", organization);

    const auto has = [](const std::vector<std::wstring>& names, const std::wstring& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    EXPECT_TRUE(has(config.users, L"Johnathan Smithers"));
    EXPECT_TRUE(std::any_of(config.users.begin(), config.users.end(),
                            [](const std::wstring& name) { return name.find(L'~') != std::wstring::npos; }));
    EXPECT_TRUE(has(config.users, L"Jonas Owner"));
    EXPECT_EQ(config.organizations, std::vector<std::wstring>{L"Owlbear Works"});
    ASSERT_EQ(config.sids.size(), 1u);
    const std::wstring& sid = config.sids[0];
    ASSERT_EQ(sid.rfind(L"S-1-5-21-", 0), 0u) << Granite::ToUtf8(sid);
    CPrivacyMask mask(config);
    EXPECT_EQ(mask.Filter(L"HKU\\" + sid), L"HKU\\sid1" + sid.substr(sid.rfind(L'-')));
}

} // namespace
