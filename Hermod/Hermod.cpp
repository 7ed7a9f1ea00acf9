#include "Hermod.h"

#include "Errors.h"
#include "ExtendedMapi.h"
#include "File.h"
#include "MapiMailSender.h"
#include "NativeFileSystem.h"

namespace Hermod {

namespace {

const Granite::COption kSubject = {L"subject", L"s"};
const Granite::COption kBody = {L"body", L"b"};
const Granite::COption kRecipient = {L"recipient", L"r"};
const Granite::COption kAttachment = {L"attachment", L"a"};

} // namespace

std::wstring CHermodApplication::GetUsage() const
{
    return Bas::Format(MSG_HELP, Bas::FileNameOf(Bas::GetModulePath()));
}

void CHermodApplication::ProcessParameter(const Granite::CParameter& parameter)
{
    if (!parameter.key.empty()) {
        if (kSubject.Matches(parameter.key)) {
            m_message.subject = parameter.value;
            return;
        }
        if (kBody.Matches(parameter.key)) {
            m_message.body = parameter.value;
            return;
        }
        if (kRecipient.Matches(parameter.key)) {
            BAS_ASSERT(!parameter.value.empty());
            const auto recipient = Granite::SplitNamedValue(parameter.value);
            m_message.recipients.push_back({recipient.name, recipient.value});
            return;
        }
        if (kAttachment.Matches(parameter.key)) {
            BAS_ASSERT(!parameter.value.empty());
            const auto attachment = Granite::SplitNamedValue(parameter.value);
            m_message.attachments.push_back(
                {attachment.name.empty() ? Bas::FileNameOf(attachment.value) : attachment.name, attachment.value});
            return;
        }
    }
    CConsoleApplication::ProcessParameter(parameter);
}

void CHermodApplication::ParseCommandLine()
{
    CConsoleApplication::ParseCommandLine();
    if (m_message.recipients.empty())
        Bas::ThrowCheck(ERR_NO_RECIPIENTS);
}

void CHermodApplication::Execute()
{
    // An attachment that names no existing file is dropped without a word.
    Granite::CMailMessage message = m_message;
    std::erase_if(message.attachments, [](const Granite::CMailAttachment& a) { return !Bas::FileExists(a.path); });
    if (Granite::CanUseExtendedMapi())
        Granite::SendByExtendedMapi(message);
    else
        Granite::SendBySimpleMapi(message);
}

} // namespace Hermod
