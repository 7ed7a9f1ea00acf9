#include "BasaltMessages.h"
#include "Errors.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(FileErrorKinds, EveryListedCodeMapsToItsKind)
{
    using K = Bas::EFileError;
    const std::vector<std::pair<K, std::vector<DWORD>>> table = {
        {K::NotFound, {2, 6, 18, 107}},
        {K::BadPath, {3, 15, 17, 34, 52, 53, 55, 67, 70, 85, 111, 123, 124, 125, 144, 154, 161, 206, 208, 267}},
        {K::TooManyOpenFiles, {4, 36, 68, 113}},
        {K::AccessDenied, {5, 12, 19, 29, 54, 58, 64, 65, 71, 80, 82, 86, 170, 999}},
        {K::InvalidFile, {11, 26, 60, 66, 114, 182, 191, 193}},
        {K::RemoveCurrentDir, {16}},
        {K::DirectoryFull, {62}},
        {K::BadSeek, {24, 25, 27, 30, 131, 132}},
        {K::HardIO, {20, 21, 22, 23, 57, 59, 88, 117, 995, 996, 997}},
        {K::SharingViolation, {32}},
        {K::LockViolation, {33, 108, 167}},
        {K::DiskFull, {39, 112}},
        {K::EndOfFile, {38}},
        {K::AlreadyExists, {183}},
        {K::DirNotEmpty, {145}},
        {K::Generic, {1, 7, 31, 87, 1234, 0xFFFFFFFF}},
    };
    for (const auto& [kind, codes] : table)
        for (DWORD code : codes)
            EXPECT_EQ(Bas::FileErrorFromCode(code), kind) << "code " << code;
}

TEST(FileErrorKinds, CodeZeroIsAnInternalError)
{
    try {
        Bas::FileErrorFromCode(0);
        FAIL() << "no exception";
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        EXPECT_NE(dynamic_cast<Bas::CInternalError*>(error.get()), nullptr);
    }
}

TEST(FileException, TextsOfTheKinds)
{
    EXPECT_EQ(Bas::CFileException(32, Bas::FileErrorFromCode(32), L"x").GetMessageText(),
              L"A sharing violation occurred while accessing x.");
    EXPECT_EQ(Bas::CFileException(2, Bas::FileErrorFromCode(2), L"C:\\a b.txt").GetMessageText(),
              L"C:\\a b.txt was not found.");
    EXPECT_EQ(Bas::CFileException(145, Bas::FileErrorFromCode(145), L"d").GetMessageText(),
              L"d could not be removed because it is not empty.");
    // A code of no other kind carries the system's own text.
    EXPECT_EQ(Bas::CFileException(1234, Bas::FileErrorFromCode(1234), L"x").GetMessageText(),
              L"An error occurred while accessing x: \n" + Bas::GetLastErrorText(1234));
}

TEST(FileException, ThrownFromAWindowsCode)
{
    try {
        Bas::ThrowFileError(5, L"C:\\locked");
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        auto* file = dynamic_cast<Bas::CFileException*>(error.get());
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->Kind(), Bas::EFileError::AccessDenied);
        EXPECT_EQ(file->Code(), 5u);
        EXPECT_EQ(file->GetMessageText(), L"Access to C:\\locked was denied.");
    }
}

TEST(WindowsErrorText, SystemTextsAndTheUnknownFallback)
{
    EXPECT_EQ(Bas::GetLastErrorText(0), L"Unknown error. Error code: 0x0");
    const std::wstring denied = Bas::GetLastErrorText(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(denied.empty());
    EXPECT_EQ(denied.find(L"Unknown error"), std::wstring::npos);
    EXPECT_EQ(Bas::GetLastErrorText(0x2FFFFFFF), L"Unknown error. Error code: 0x2FFFFFFF");
    EXPECT_EQ(Bas::CLastErrorException(0x2FFFFFFF).GetMessageText(), L"Unknown error. Error code: 0x2FFFFFFF");
    // A system text that holds inserts is returned with them unexpanded.
    EXPECT_FALSE(Bas::GetLastErrorText(ERROR_WRONG_DISK).empty());
}

TEST(ComErrorText, Win32FacilityIsReducedToTheSystemCode)
{
    std::wstring expected = Bas::GetLastErrorText(5);
    while (!expected.empty() && (expected.back() == L'\n' || expected.back() == L'\r'))
        expected.pop_back();
    EXPECT_EQ(Bas::CCOMException(static_cast<HRESULT>(0x80070005)).GetMessageText(), expected);
    EXPECT_EQ(Bas::GetComErrorText(static_cast<HRESULT>(0xA0BC0DEF)), L"Unknown COM error. Error code: 0xA0BC0DEF");
}

TEST(CheckException, FormatsItsMessageWithItsParameters)
{
    Bas::CCheckException error(Bas::ERR_BAD_INI_FILE, L"Glean.ini", L"3");
    EXPECT_EQ(error.GetMessageText(), L"Glean.ini is corrupted (line 3).");
    EXPECT_EQ(&error.Message(), &Bas::ERR_BAD_INI_FILE);
    EXPECT_EQ(Bas::CUserException().GetMessageText(), L"");
}

TEST(InternalError, TextWithAndWithoutCode)
{
    EXPECT_EQ(Bas::CInternalError(Bas::EInternalError::Assertion, L"a.cpp", 10).GetMessageText(),
              L"Internal program error:\na.cpp, 10.");
    EXPECT_EQ(Bas::CInternalError(Bas::EInternalError::PresumptionWithCode, L"b.cpp", 7, 0x5A).GetMessageText(),
              L"Internal program error:\nb.cpp, 7.\nError code: 5A");
}

TEST(MemoryException, ComesFromAReusablePool)
{
    // More than the pool holds, in turns: every slot comes back when its
    // exception is deleted.
    for (int round = 0; round < 3; ++round) {
        std::vector<Bas::CExceptionPtr> held;
        for (int i = 0; i < 64; ++i) {
            try {
                Bas::ThrowMemory();
            } catch (Bas::CException* raw) {
                held.push_back(Bas::Own(raw));
            }
        }
        EXPECT_EQ(held.back()->GetMessageText(), L"Not enough memory!");
    }
}

} // namespace
