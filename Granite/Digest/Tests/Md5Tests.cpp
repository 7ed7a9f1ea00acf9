#include "Md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <string>
#include <vector>

namespace {

std::wstring Digest(const std::string& text)
{
    Granite::CMd5 md5;
    md5.Update(text.data(), text.size());
    return Granite::CMd5::ToText(md5.Finish());
}

TEST(Md5, Rfc1321TestSuite)
{
    EXPECT_EQ(Digest(""), L"D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(Digest("a"), L"0CC175B9C0F1B6A831C399E269772661");
    EXPECT_EQ(Digest("abc"), L"900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(Digest("message digest"), L"F96B697D7CB7938D525A2F31AAF161D0");
    EXPECT_EQ(Digest("abcdefghijklmnopqrstuvwxyz"), L"C3FCD3D76192E4007DFB496CCA67E13B");
    EXPECT_EQ(Digest("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              L"D174AB98D277D9F5A5611C2C9F419D9F");
    EXPECT_EQ(Digest("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
              L"57EDF4A22BE3C955AC49DA2E2107B67A");
}

TEST(Md5, PiecesOfAnySizeAndPaddingBoundaries)
{
    // byte i = i * 31 + 7; digests from an independent implementation.
    std::vector<unsigned char> data(300000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 31 + 7);
    const std::pair<std::size_t, const wchar_t*> known[] = {
        {55, L"C9E512626618C9980EF21A96597AF94C"},     {56, L"ECDE7CAA08E9F5657C863DF107CAC60A"},
        {57, L"B17B1A018DD6A4D1EDDA8ACA15F17846"},     {63, L"2F0301069E1C40AF7F6C8F843B1B13F2"},
        {64, L"B6BF87C24B1BC334E2541387A92B981B"},     {119, L"D5DC3D8264DE3AA24DEE105910EE27FE"},
        {120, L"BCC139B3848923904860D1EEFD6E5923"},    {300000, L"055866C884AFAF5214C2F616F557459F"},
    };
    Granite::CMd5 reused;
    for (const auto& [length, digest] : known) {
        reused.Reset();
        reused.Update(data.data(), length);
        EXPECT_EQ(Granite::CMd5::ToText(reused.Finish()), digest) << length;
    }
    for (std::size_t piece : {1u, 55u, 56u, 63u, 64u, 65u, 4096u, 262144u}) {
        Granite::CMd5 md5;
        for (std::size_t pos = 0; pos < data.size(); pos += piece)
            md5.Update(data.data() + pos, std::min(piece, data.size() - pos));
        EXPECT_EQ(Granite::CMd5::ToText(md5.Finish()), L"055866C884AFAF5214C2F616F557459F") << piece;
    }
}

} // namespace
