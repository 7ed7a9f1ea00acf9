#include "MaskedText.h"
#include "PrivacyMask.h"
#include "TestFolder.h"
#include "ZipCompressor.h"

#include <gtest/gtest.h>

namespace {

Glean::CPrivacyMask::CConfig Config()
{
    Glean::CPrivacyMask::CConfig config;
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
TEST(PrivacyMask, ReplacesWhatItShouldAndNothingElse)
{
    Glean::CPrivacyMask mask(Config());
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"User jdoe logged on ACME-PC", L"User user1 logged on host1"},
        {L"JDOE, Jdoe and jdoe", L"user1, user1 and user1"},
        {L"jdoes jdoe_x xjdoe", L"jdoes jdoe_x xjdoe"}, // names are whole words
        {L"C:\\Users\\j.doe\\AppData", L"C:\\Users\\user2\\AppData"},
        {L"ACME\\jdoe on ACME-PC.acme.local", L"domain1\\user1 on host1.domain1.local"},
        {L"Project Falcon is falconry", L"word1 is word2onry"}, // listed words wherever they are
        {L"TOKEN=s3cr3t-value;x=abc", L"TOKEN=secret1;x=abc"}, // a secret shorter than four stays
        {L"mail jdoe@acme.com, support@zarvo.com.", L"mail mail1, support@zarvo.com."},
        {L"ping 10.0.0.15.", L"ping ip1."},
        {L"gateway 192.168.1.1\r\n", L"gateway ip2\r\n"},
        {L"10.0.0.15 again", L"ip1 again"},
        {L"Glean.exe [1.0.0.0] 300.1.1.1 1.2.3.4.5 6.1.7601.17514", L"Glean.exe [1.0.0.0] 300.1.1.1 1.2.3.4.5 6.1.7601.17514"},
        {L"loopback ::1, link fe80::1ff:fe23:4567:890a%3", L"loopback ip3, link ip4%3"},
        {L"net 2001:db8:: and 2001:0db8:0000:0000:0000:ff00:0042:8329", L"net ip5 and ip6"},
        {L"mapped ::ffff:192.0.2.128 end", L"mapped ip7 end"},
        {L"at 2026-12-09 12:30:45.123 std::vector", L"at 2026-12-09 12:30:45.123 std::vector"},
        {L"mac 00-1A-2B-3C-4D-5E = 00:1a:2b:3c:4d:5e", L"mac mac1 = mac1"},
        {L"not 00-1A-2B-3C-4D-5E-6F", L"not 00-1A-2B-3C-4D-5E-6F"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(mask.Filter(text), expected) << Granite::ToUtf8(text);
    const auto counts = mask.Counts();
    EXPECT_EQ(counts[Glean::CPrivacyMask::User], 2u);
    EXPECT_EQ(counts[Glean::CPrivacyMask::Ip], 7u);
    EXPECT_EQ(counts[Glean::CPrivacyMask::Mac], 1u);
    const auto key = mask.Key();
    ASSERT_GE(key.size(), 3u);
    EXPECT_EQ(key[0], (std::pair<std::wstring, std::wstring>{L"user1", L"jdoe"}));
    EXPECT_EQ(key[1], (std::pair<std::wstring, std::wstring>{L"host1", L"ACME-PC"}));
}

// Collected files keep their encoding and their lines; what straddles two
// read blocks is found all the same; a binary file is not touched.
TEST(PrivacyMask, CollectedTextFilesInTheirOwnEncoding)
{
    Testing::CTestFolder folder;
    Glean::CPrivacyMask mask(Config());
    // UTF-8 without a mark: the address straddles the end of the first
    // block read (64 KiB and then 1 MiB).
    std::string filler;
    while (filler.size() < 0x10000 + 0x100000 - 8)
        filler += "line of text from the log, nothing to hide here at all\r\n";
    filler.resize(0x10000 + 0x100000 - 8);
    filler += "\r\n";
    const std::string utf8 = filler + "from jdoe@acme.com at 10.1.2.3\r\n\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD jdoe\n";
    folder.WriteBytes(L"utf8.log", utf8);
    ASSERT_TRUE(Glean::MaskTextFile(mask, folder / L"utf8.log", folder / L"utf8.out"));
    EXPECT_EQ(folder.ReadBytes(L"utf8.out"), filler + "from mail1 at ip1\r\n\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD user1\n");

    // UTF-16 with its mark.
    const std::wstring wide = L"host ACME-PC\r\nuser jdoe";
    folder.WriteBytes(L"wide.log", std::string("\xFF\xFE", 2) +
                                       std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2));
    ASSERT_TRUE(Glean::MaskTextFile(mask, folder / L"wide.log", folder / L"wide.out"));
    const std::wstring masked = L"host host1\r\nuser user1";
    EXPECT_EQ(folder.ReadBytes(L"wide.out"),
              std::string("\xFF\xFE", 2) + std::string(reinterpret_cast<const char*>(masked.data()), masked.size() * 2));

    // The ANSI code page: bytes that are no UTF-8 stay as they were.
    folder.WriteBytes(L"ansi.log", "caf\xE9 jdoe\r\n");
    ASSERT_TRUE(Glean::MaskTextFile(mask, folder / L"ansi.log", folder / L"ansi.out"));
    EXPECT_EQ(folder.ReadBytes(L"ansi.out"), "caf\xE9 user1\r\n");

    // A zero byte in the first 64 KiB: binary.
    folder.WriteBytes(L"data.bin", std::string("jdoe\0jdoe", 9));
    EXPECT_FALSE(Glean::MaskTextFile(mask, folder / L"data.bin", folder / L"data.out"));
}

} // namespace
