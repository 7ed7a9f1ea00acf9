#include "PrivacyMask.h"
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

} // namespace
