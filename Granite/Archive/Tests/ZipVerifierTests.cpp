#include "Errors.h"
#include "ArchiveMessages.h"
#include "TestFolder.h"
#include "ZipCompressor.h"
#include "Sha256.h"
#include "ZipVerifier.h"

#include <gtest/gtest.h>

#include <random>

namespace {

class ZipVerifier : public testing::Test {
protected:
    void SetUp() override
    {
        std::mt19937 random(7);
        std::string noise(300000, '\0');
        for (char& c : noise)
            c = static_cast<char>(random());
        folder.WriteBytes(L"text.txt", std::string(5000, 'a') + "end");
        folder.WriteBytes(L"noise.bin", noise);
        Granite::CZipCompressor zip;
        zip.Open(folder / L"good.zip");
        zip.AddFile(folder / L"text.txt", L"Logs/text.txt", L"comment");
        zip.AddFile(folder / L"noise.bin", L"noise.bin", L"");
        zip.AddDirectory(L"Empty", L"");
        zip.Close();
        entries = zip.Entries();
        good = folder.ReadBytes(L"good.zip");
    }

    // The reason the verifier gives for these bytes; empty when it passes.
    std::wstring Reason(const std::string& bytes, const std::vector<Granite::CZipEntry>& written)
    {
        folder.WriteBytes(L"check.zip", bytes);
        try {
            Granite::VerifyZipArchive(folder / L"check.zip", written);
        } catch (Bas::CException* raw) {
            auto error = Bas::Own(raw);
            auto* check = dynamic_cast<Bas::CCheckException*>(error.get());
            if (check == nullptr || &check->Message() != &Granite::ERR_ZIP_ARCHIVE_DAMAGED)
                return L"other error: " + error->GetMessageText();
            EXPECT_EQ(check->Parameter(0), folder / L"check.zip");
            return check->Parameter(1);
        }
        return {};
    }
    std::wstring Reason(const std::string& bytes) { return Reason(bytes, entries); }

    static void Put32(std::string& bytes, std::size_t at, std::uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<char>(value >> (8 * i));
    }

    Testing::CTestFolder folder;
    std::vector<Granite::CZipEntry> entries;
    std::string good;
};

TEST_F(ZipVerifier, AGoodArchivePasses)
{
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(Reason(good), L"");
}

TEST_F(ZipVerifier, AnArchiveCutShort)
{
    const std::wstring cut = Bas::GetText(Granite::MSG_ZIP_CUT_SHORT);
    for (std::size_t length : {std::size_t{0}, std::size_t{10}, std::size_t{entries[2].localHeaderOffset + 100},
                               good.size() - 40, good.size() - 22, good.size() - 1})
        EXPECT_EQ(Reason(good.substr(0, length)), cut) << length;
}

TEST_F(ZipVerifier, DamagedDataOrHeaders)
{
    const Granite::CZipEntry& noise = entries[2];
    const std::size_t data = noise.localHeaderOffset + 30 + noise.nameLength;
    // One flipped byte in the data.
    std::string flipped = good;
    flipped[data + 1000] ^= 0x10;
    EXPECT_EQ(Reason(flipped), Bas::Format(Granite::MSG_ZIP_DATA_DIFFERS, L"noise.bin"));

    // A CRC-32 that the headers agree on but the data does not give.
    std::string wrongCrc = good;
    std::vector<Granite::CZipEntry> written = entries;
    written[2].crc32 ^= 1;
    Put32(wrongCrc, noise.localHeaderOffset + 14, written[2].crc32);
    const std::size_t directory = static_cast<unsigned char>(good[good.size() - 6]) |
                                  static_cast<unsigned char>(good[good.size() - 5]) << 8 |
                                  static_cast<unsigned char>(good[good.size() - 4]) << 16;
    const std::size_t central = good.find("noise.bin", directory) - 46;
    Put32(wrongCrc, central + 16, written[2].crc32);
    EXPECT_EQ(Reason(wrongCrc, written), Bas::Format(Granite::MSG_ZIP_DATA_DIFFERS, L"noise.bin"));
    // The same archive against what was really written: its directory lies.
    EXPECT_EQ(Reason(wrongCrc), Bas::GetText(Granite::MSG_ZIP_DIRECTORY_DIFFERS));

    // A local header that disagrees with its central record.
    std::string local = good;
    Put32(local, noise.localHeaderOffset + 18, noise.compressedSize + 1);
    EXPECT_EQ(Reason(local), Bas::Format(Granite::MSG_ZIP_LOCAL_HEADER_DIFFERS, L"noise.bin"));

    // Fewer entries written than the archive holds.
    written = entries;
    written.pop_back();
    EXPECT_EQ(Reason(good, written), Bas::GetText(Granite::MSG_ZIP_DIRECTORY_DIFFERS));
}

} // namespace

namespace {

// The copy to the destination, its read-back and its digest hand control
// back between blocks, so that the window of the program stays alive.
TEST(LongWork, CopyReadBackAndDigestReportProgress)
{
    Testing::CTestFolder folder;
    std::mt19937 random(3);
    std::string noise(3 * 0x100000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    folder.WriteBytes(L"noise.bin", noise);
    std::vector<Granite::CZipEntry> written;
    {
        Granite::CZipCompressor zip;
        zip.Open(folder / L"packed.zip");
        zip.AddFile(folder / L"noise.bin", L"noise.bin", L"");
        zip.Close();
        written = zip.Entries();
    }
    int copied = 0, verified = 0, digested = 0;
    Bas::CopyFileReplacing(folder / L"packed.zip", folder / L"copy.zip", [&] { ++copied; });
    Granite::VerifyZipArchive(folder / L"copy.zip", written, [&] { ++verified; });
    Granite::FileSha256Text(folder / L"copy.zip", [&] { ++digested; });
    EXPECT_GE(copied, 3);
    EXPECT_GE(verified, 12);
    EXPECT_GE(digested, 12);
    // And a step that gives up (the user closed the window) ends the work.
    try {
        Granite::FileSha256Text(folder / L"copy.zip", [] { Bas::ThrowUser(); });
        ADD_FAILURE() << "the digest went on";
    } catch (Bas::CUserException* raw) {
        Bas::Own(raw);
    }
}

} // namespace
