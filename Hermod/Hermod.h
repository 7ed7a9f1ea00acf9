// The mail sender: its options (subject, body, recipients, attachments)
// and the sending through Extended MAPI, or Simple MAPI where no silent
// Extended MAPI logon succeeds.
#pragma once

#include "ConsoleApplication.h"
#include "MailMessage.h"

namespace Hermod {

inline const Bas::CMessageName ERR_NO_RECIPIENTS{L"ERR_NO_RECIPIENTS"};
inline const Bas::CMessageName MSG_HELP{L"MSG_HELP"};

class CHermodApplication : public Granite::CConsoleApplication {
public:
    const Granite::CMailMessage& Message() const noexcept { return m_message; }
    std::wstring GetUsage() const override;

    // The options, then the base's; anything else is an invalid argument.
    void ProcessParameter(const Granite::CParameter& parameter) override;

protected:
    // Also: no recipient is an error.
    void ParseCommandLine() override;
    // Sends the message; prints no logo.
    void Execute() override;

private:
    Granite::CMailMessage m_message;
};

} // namespace Hermod
