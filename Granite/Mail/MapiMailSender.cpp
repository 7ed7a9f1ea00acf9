#include "MapiMailSender.h"

#include "Dll.h"
#include "Errors.h"
#include "NativeFileSystem.h"
#include "SimpleMapiW.h"
#include "TextTools.h"

#include <memory>
#include <string>
#include <vector>

namespace Granite {

namespace {

using FSendMailW = ULONG(WINAPI*)(LHANDLE, ULONG_PTR, MapiMessageW*, FLAGS, ULONG);

constexpr FLAGS kSendFlags = MAPI_LOGON_UI | MAPI_DIALOG;

// The texts of one message in the form of one route, each kept alive until
// the send function returns. Empty subject and body are left out (null).
template <class Text, class FileDesc, class RecipDesc, class Message>
struct CPrepared {
    Text subject;
    Text body;
    Text name;
    Text address;
    bool hasRecipient = false;
    std::vector<Text> paths;
    std::vector<Text> names;
    std::vector<FileDesc> files;
    RecipDesc to = {};
    Message message = {};

    Message* Build(bool withSubject, bool withBody)
    {
        files.assign(paths.size(), FileDesc{});
        for (std::size_t i = 0; i < files.size(); ++i) {
            files[i].nPosition = 0xFFFFFFFF;
            files[i].lpszPathName = paths[i].data();
            files[i].lpszFileName = names[i].data();
        }
        to.ulRecipClass = MAPI_TO;
        to.lpszName = name.data();
        to.lpszAddress = address.data();
        message.lpszSubject = withSubject ? subject.data() : nullptr;
        message.lpszNoteText = withBody ? body.data() : nullptr;
        if (hasRecipient) {
            message.nRecipCount = 1;
            message.lpRecips = &to;
        }
        message.nFileCount = static_cast<ULONG>(files.size());
        message.lpFiles = files.empty() ? nullptr : files.data();
        return &message;
    }
};

void CheckResult(ULONG result)
{
    if (result != SUCCESS_SUCCESS && result != MAPI_USER_ABORT)
        Bas::ThrowCheck(ERR_TOOLS_FAILED_MAPI_SEND, std::to_wstring(result));
}

void SendUnicode(FSendMailW send, const CMailMessage& mail, const std::vector<std::wstring>& paths,
                 const CMailAddress& recipient)
{
    CPrepared<std::wstring, MapiFileDescW, MapiRecipDescW, MapiMessageW> prepared;
    prepared.subject = mail.subject;
    prepared.body = mail.body;
    // A recipient without a display name is left out of the message.
    if (!recipient.name.empty()) {
        prepared.hasRecipient = true;
        prepared.name = recipient.name;
        prepared.address = recipient.address;
    }
    prepared.paths = paths;
    for (const CMailAttachment& attachment : mail.attachments)
        prepared.names.push_back(Bas::FileNameOf(attachment.name));
    CheckResult(send(0, 0, prepared.Build(!mail.subject.empty(), !mail.body.empty()), kSendFlags, 0));
}

// Subject and body take the code page's nearest characters, "?" where it
// has none: the user reads them in the mail system's dialog before sending.
// The attachment's name shows "_" for what the code page lacks, as "?" is
// no character of a file name.
void SendAnsi(LPMAPISENDMAIL send, const CMailMessage& mail, const std::vector<std::wstring>& paths,
              const CMailAddress& recipient, UINT codePage)
{
    CPrepared<std::string, MapiFileDesc, MapiRecipDesc, MapiMessage> prepared;
    prepared.subject = Bas::Narrow(mail.subject, codePage);
    prepared.body = Bas::Narrow(mail.body, codePage);
    if (const std::optional<CMailAddress> given = RecipientForCodePage(recipient, codePage)) {
        prepared.hasRecipient = true;
        prepared.name = Bas::Narrow(given->name, codePage);
        prepared.address = Bas::Narrow(given->address, codePage);
    }
    for (const std::wstring& path : paths)
        prepared.paths.push_back(Bas::Narrow(path, codePage));
    for (const CMailAttachment& attachment : mail.attachments)
        prepared.names.push_back(
            Bas::Narrow(ReplaceOutsideCodePage(Bas::FileNameOf(attachment.name), codePage, L'_'), codePage));
    CheckResult(send(0, 0, prepared.Build(!mail.subject.empty(), !mail.body.empty()), kSendFlags, 0));
}

void SendOne(const CMailMessage& mail, const std::vector<std::wstring>& paths, const CMailAddress& recipient,
             UINT codePage)
{
    Bas::CDll library(L"MAPI32.dll");
    // Exported by the libraries of newer systems and mail clients only.
    if (const auto sendW = Bas::GetProc<FSendMailW>(library.Handle(), "MAPISendMailW")) {
        SendUnicode(sendW, mail, paths, recipient);
        return;
    }
    const auto send = library.GetFunction<LPMAPISENDMAIL>("MAPISendMail");
    if (send == nullptr)
        Bas::ThrowCheck(ERR_TOOLS_INVALID_MAPI_DLL);
    SendAnsi(send, mail, paths, recipient, codePage);
}

bool IsSurrogatePair(const std::wstring& text, std::size_t at)
{
    return at + 1 < text.size() && text[at] >= 0xD800 && text[at] <= 0xDBFF && text[at + 1] >= 0xDC00 &&
           text[at + 1] <= 0xDFFF;
}

// The path without the prefix that LongPath adds: "\\?\C:\..." as
// "C:\...", "\\?\UNC\server\..." as "\\server\...".
std::wstring WithoutLongPrefix(const std::wstring& path)
{
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return L"\\\\" + path.substr(8);
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path.substr(4);
    return path;
}

bool FitsAnsiFunctions(const std::wstring& path)
{
    return !path.empty() && path.size() < MAX_PATH;
}

} // namespace

bool SurvivesCodePage(const std::wstring& text, UINT codePage)
{
    if (text.empty())
        return true;
    // UTF-8 and UTF-7 take no flags; elsewhere no best-fit look-alikes.
    const DWORD flags = codePage == CP_UTF8 || codePage == CP_UTF7 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int length = static_cast<int>(text.size());
    const int size = ::WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (::WideCharToMultiByte(codePage, flags, text.data(), length, bytes.data(), size, nullptr, nullptr) != size)
        return false;
    return Bas::Widen(bytes, codePage) == text;
}

std::wstring ReplaceOutsideCodePage(const std::wstring& text, UINT codePage, wchar_t replacement)
{
    if (SurvivesCodePage(text, codePage))
        return text;
    std::wstring result;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = IsSurrogatePair(text, at) ? 2 : 1;
        const std::wstring character = text.substr(at, length);
        if (SurvivesCodePage(character, codePage))
            result += character;
        else
            result += replacement;
        at += length;
    }
    return result;
}

std::wstring PathForCodePage(const std::wstring& path, const std::wstring& shortPath, UINT codePage)
{
    for (const std::wstring* candidate : {&path, &shortPath})
        if (FitsAnsiFunctions(*candidate) && Bas::ReadsAsItself(*candidate) && SurvivesCodePage(*candidate, codePage))
            return *candidate;
    return {};
}

std::wstring ShortPathOf(const std::wstring& path)
{
    const std::wstring longForm = Bas::LongPath(path);
    // The short form may be longer than the path ("a.b.c" is "ABC~1.C"):
    // the first call tells the size.
    const DWORD size = ::GetShortPathNameW(longForm.c_str(), nullptr, 0);
    if (size == 0)
        return {};
    std::wstring shortPath(size, L'\0');
    const DWORD length = ::GetShortPathNameW(longForm.c_str(), shortPath.data(), size);
    if (length == 0 || length >= size)
        return {};
    shortPath.resize(length);
    return WithoutLongPrefix(shortPath);
}

std::optional<CMailAddress> RecipientForCodePage(const CMailAddress& recipient, UINT codePage)
{
    if (recipient.name.empty() || !SurvivesCodePage(recipient.address, codePage))
        return std::nullopt;
    if (!SurvivesCodePage(recipient.name, codePage))
        return CMailAddress{recipient.address, recipient.address};
    return recipient;
}

CCodePageCopy::CCodePageCopy(const std::wstring& source, const std::vector<std::wstring>& roots, UINT codePage)
{
    // The copy's name is read without the "\\?\" prefix as well: a name
    // Windows would strip or take for a device is made one it reads as
    // itself.
    std::wstring name = ReplaceOutsideCodePage(Bas::FileNameOf(source), codePage, L'_');
    for (std::size_t end = name.size(); end > 0 && (name[end - 1] == L'.' || name[end - 1] == L' '); --end)
        name[end - 1] = L'_';
    if (Bas::IsDeviceName(name))
        name.insert(0, 1, L'_');
    const std::wstring own = L"Mail" + std::to_wstring(::GetCurrentProcessId());
    for (const std::wstring& root : roots) {
        if (root.empty() || !SurvivesCodePage(root, codePage))
            continue;
        for (int attempt = 0; attempt < 100 && m_folder.empty(); ++attempt) {
            const std::wstring folder = Bas::JoinPath(root, own + L"." + std::to_wstring(attempt));
            const std::wstring path = Bas::JoinPath(folder, name);
            // Checked whole: the name may take the path past MAX_PATH.
            if (!FitsAnsiFunctions(path) || !SurvivesCodePage(path, codePage))
                break;
            if (Bas::MakeFolder(folder)) {
                m_folder = folder;
                m_path = path;
            } else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
                break;
            }
        }
        if (!m_folder.empty())
            break;
    }
    if (m_folder.empty())
        Bas::ThrowCheck(ERR_TOOLS_NO_ATTACHMENT_COPY, source);
    try {
        Bas::CopyFileReplacing(source, m_path);
    } catch (...) {
        Bas::RemoveFolderTree(m_folder);
        throw;
    }
}

CCodePageCopy::~CCodePageCopy()
{
    Bas::RemoveFolderTree(m_folder);
}

std::vector<std::wstring> CopyRoots()
{
    std::vector<std::wstring> roots;
    wchar_t buffer[MAX_PATH + 1];
    const DWORD temp = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (temp > 0 && temp <= MAX_PATH)
        roots.emplace_back(buffer);
    const UINT windows = ::GetSystemWindowsDirectoryW(buffer, MAX_PATH + 1);
    if (windows > 0 && windows <= MAX_PATH)
        roots.push_back(Bas::JoinPath(buffer, L"Temp"));
    const DWORD data = ::ExpandEnvironmentStringsW(L"%ProgramData%", buffer, MAX_PATH + 1);
    if (data > 0 && data <= MAX_PATH + 1 && buffer[0] != L'%')
        roots.emplace_back(buffer);
    return roots;
}

void SendBySimpleMapi(const CMailMessage& message)
{
    if (message.recipients.empty())
        return;
    const UINT codePage = ::GetACP();
    // Copies live until every message has been handed over.
    std::vector<std::unique_ptr<CCodePageCopy>> copies;
    std::vector<std::wstring> paths;
    for (const CMailAttachment& attachment : message.attachments) {
        std::wstring path = PathForCodePage(attachment.path, ShortPathOf(attachment.path), codePage);
        if (path.empty()) {
            copies.push_back(std::make_unique<CCodePageCopy>(attachment.path, CopyRoots(), codePage));
            path = copies.back()->Path();
        }
        paths.push_back(path);
    }
    for (const CMailAddress& recipient : message.recipients)
        SendOne(message, paths, recipient, codePage);
}

} // namespace Granite
