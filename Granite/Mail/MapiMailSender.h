// Sending through Simple MAPI: one message per recipient, handed to
// MAPI32.dll's send function with its dialog. All strings are ANSI.
#pragma once

#include "MailMessage.h"
#include "Message.h"

namespace Granite {

inline const Bas::CMessageName ERR_TOOLS_INVALID_MAPI_DLL{L"ERR_TOOLS_INVALID_MAPI_DLL"};
inline const Bas::CMessageName ERR_TOOLS_FAILED_MAPI_SEND{L"ERR_TOOLS_FAILED_MAPI_SEND"};

// The user's cancel is silent; any other failure of the send function
// raises ERR_TOOLS_FAILED_MAPI_SEND with its code.
void SendBySimpleMapi(const CMailMessage& message);

} // namespace Granite
