#include "PrivacyKey.h"

#include "Account.h"
#include "Errors.h"
#include "File.h"
#include "Handles.h"
#include "NativeFileSystem.h"
#include "PrivacyMask.h"
#include "ZipCompressor.h"

#include <sddl.h>

#include <cstdio>
#include <functional>

namespace Glean {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
// Names tried before a folder is taken as full.
constexpr unsigned kMaxNumber = 1000;

// "D:P(A;;FA;;;<user>)(A;;FA;;;SY)": full access for the current user and
// the system, nobody else. Protected, so that what the folder passes on to
// new files (Everyone or Users on a shared folder) does not reach the key.
Bas::CLocalMemory UserOnlyDescriptor()
{
    const std::wstring sid = Bas::SidText(Bas::CurrentUserSid());
    if (sid.empty())
        Bas::ThrowLastError();
    const std::wstring sddl = L"D:P(A;;FA;;;" + sid + L")(A;;FA;;;SY)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        Bas::ThrowLastError();
    return Bas::CLocalMemory(descriptor);
}

// Creates the file with the user-only descriptor and writes the text;
// false when a file or folder of that name exists. Only a new file will
// do: CreateFileW ignores the descriptor given when it opens a file that
// exists, and another process may hold that one open. A file that cannot
// be written whole is removed again.
bool CreateKeyFile(const std::wstring& path, const std::string& text)
{
    {
        const Bas::CLocalMemory descriptor = UserOnlyDescriptor();
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor.Get(), FALSE};
        const Bas::CFileHandle created(::CreateFileW(Bas::LongPath(path).c_str(), GENERIC_WRITE, 0, &attributes,
                                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!created) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
                return false;
            Bas::ThrowFileError(error, path);
        }
    }
    // Opened again by the library's file object, the file keeps the
    // descriptor it was made with.
    try {
        Bas::CFile file(path, Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
        file.Write(text.data(), text.size());
        file.Close();
    } catch (Bas::CException*) {
        Bas::RemoveFile(path);
        throw;
    }
    return true;
}

// The first of the names 1, 2, ... that no file has, made with the text.
std::wstring CreateFirstFree(const std::function<std::wstring(unsigned)>& name, const std::string& text)
{
    for (unsigned number = 1; number <= kMaxNumber; ++number) {
        std::wstring path = name(number);
        if (CreateKeyFile(path, text))
            return path;
    }
    Bas::ThrowFileError(ERROR_FILE_EXISTS, name(kMaxNumber));
}

} // namespace

bool IsPrivacyKey(std::string_view firstBytes)
{
    if (firstBytes.substr(0, kUtf8Mark.size()) == kUtf8Mark)
        firstBytes.remove_prefix(kUtf8Mark.size());
    if (firstBytes.substr(0, kPrivacyKeyTitle.size()) == kPrivacyKeyTitle)
        return true;
    // A key whose title line was cut off begins with a pair: a stand-in
    // ("user1", "secret12") and a tab.
    std::size_t letters = 0;
    while (letters < firstBytes.size() && firstBytes[letters] >= 'a' && firstBytes[letters] <= 'z')
        ++letters;
    std::size_t end = letters;
    while (end < firstBytes.size() && firstBytes[end] >= '0' && firstBytes[end] <= '9')
        ++end;
    if (end == letters || end == firstBytes.size() || firstBytes[end] != '\t')
        return false;
    const std::wstring kind(firstBytes.begin(), firstBytes.begin() + static_cast<std::ptrdiff_t>(letters));
    for (int k = 0; k < CPrivacyMask::KindCount; ++k)
        if (kind == CPrivacyMask::KindName(static_cast<CPrivacyMask::EKind>(k)))
            return true;
    return false;
}

std::wstring PrivacyKeyPathFor(const std::wstring& archivePath)
{
    const auto slash = archivePath.find_last_of(L"\\/");
    const std::size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
    // A leading dot starts a name, not an extension.
    const auto dot = archivePath.rfind(L'.');
    const std::size_t end = dot != std::wstring::npos && dot > nameStart ? dot : archivePath.size();
    return archivePath.substr(0, end) + std::wstring(kPrivacyKeySuffix);
}

std::wstring DatedPrivacyKeyName(const SYSTEMTIME& time, unsigned number)
{
    wchar_t text[64];
    std::swprintf(text, 64, L"Glean-%04u%02u%02u-%02u%02u%02u", unsigned{time.wYear}, unsigned{time.wMonth},
                  unsigned{time.wDay}, unsigned{time.wHour}, unsigned{time.wMinute}, unsigned{time.wSecond});
    std::wstring name = text;
    if (number > 1)
        name += L"-" + std::to_wstring(number);
    return name + std::wstring(kPrivacyKeySuffix);
}

std::string PrivacyKeyText(const std::wstring& archiveName, const CPrivacyKeyPairs& pairs)
{
    std::string text(kUtf8Mark);
    text += kPrivacyKeyTitle;
    text += ": the stand-ins in " + Granite::ToUtf8(archiveName) +
            " and what they stand for. Keep this file; never send it.\r\n";
    for (const auto& [standIn, original] : pairs)
        text += Granite::ToUtf8(standIn) + '\t' + Granite::ToUtf8(original) + "\r\n";
    return text;
}

std::wstring SavePrivacyKeyBeside(const std::wstring& archivePath, const CPrivacyKeyPairs& pairs)
{
    const std::wstring path = PrivacyKeyPathFor(archivePath);
    const std::wstring fresh = CreateFirstFree(
        [&](unsigned number) { return path + L"." + std::to_wstring(number) + L".tmp"; },
        PrivacyKeyText(Bas::FileNameOf(archivePath), pairs));
    // The complete key replaces the one before in a single step, so that a
    // key that cannot be written leaves that one as it was; a renamed file
    // keeps its own security descriptor.
    if (!::MoveFileExW(Bas::LongPath(fresh).c_str(), Bas::LongPath(path).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        Bas::RemoveFile(fresh);
        Bas::ThrowFileError(error, path);
    }
    return path;
}

std::wstring SavePrivacyKeyInto(const std::wstring& folder, const std::wstring& archiveName,
                                const CPrivacyKeyPairs& pairs, const SYSTEMTIME& time)
{
    return CreateFirstFree([&](unsigned number) { return Bas::JoinPath(folder, DatedPrivacyKeyName(time, number)); },
                           PrivacyKeyText(archiveName, pairs));
}

} // namespace Glean
