#include "MapiMailSender.h"

#include "Dll.h"
#include "Errors.h"
#include "NativeFileSystem.h"
#include "TextTools.h"

#include <mapi.h>

#include <string>
#include <vector>

namespace Granite {

namespace {

std::string Ansi(const std::wstring& text)
{
    return Bas::Narrow(text, CP_ACP);
}

char* Field(std::string& text)
{
    return text.data();
}

void SendOne(const CMailMessage& mail, const CMailAddress* recipient)
{
    // The strings live until the call returns.
    std::string subject = Ansi(mail.subject);
    std::string body = Ansi(mail.body);
    std::string name = recipient != nullptr ? Ansi(recipient->name) : std::string();
    std::string address = recipient != nullptr ? Ansi(recipient->address) : std::string();
    std::vector<std::string> paths;
    std::vector<std::string> names;
    for (const CMailAttachment& attachment : mail.attachments) {
        paths.push_back(Ansi(attachment.path));
        names.push_back(Ansi(Bas::FileNameOf(attachment.name)));
    }
    std::vector<MapiFileDesc> files(mail.attachments.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        files[i] = {};
        files[i].nPosition = 0xFFFFFFFF;
        files[i].lpszPathName = Field(paths[i]);
        files[i].lpszFileName = Field(names[i]);
    }
    MapiRecipDesc to = {};
    to.ulRecipClass = MAPI_TO;
    to.lpszName = Field(name);
    to.lpszAddress = Field(address);
    MapiMessage message = {};
    message.lpszSubject = mail.subject.empty() ? nullptr : Field(subject);
    message.lpszNoteText = mail.body.empty() ? nullptr : Field(body);
    // A recipient without a display name is left out of the message.
    if (recipient != nullptr && !recipient->name.empty()) {
        message.nRecipCount = 1;
        message.lpRecips = &to;
    }
    message.nFileCount = static_cast<ULONG>(files.size());
    message.lpFiles = files.empty() ? nullptr : files.data();

    Bas::CDll library(L"MAPI32.dll");
    const auto send = library.GetFunction<LPMAPISENDMAIL>("MAPISendMail");
    if (send == nullptr)
        Bas::ThrowCheck(ERR_TOOLS_INVALID_MAPI_DLL);
    const ULONG result = send(0, 0, &message, MAPI_LOGON_UI | MAPI_DIALOG, 0);
    if (result != SUCCESS_SUCCESS && result != MAPI_USER_ABORT)
        Bas::ThrowCheck(ERR_TOOLS_FAILED_MAPI_SEND, std::to_wstring(result));
}

} // namespace

void SendBySimpleMapi(const CMailMessage& message)
{
    for (const CMailAddress& recipient : message.recipients)
        SendOne(message, &recipient);
}

} // namespace Granite
