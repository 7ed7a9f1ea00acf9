// Sending through Simple MAPI: one message per recipient, handed to the send
// function of MAPI32.dll with its dialog. MAPISendMailW, where the library
// exports it, takes every text in UTF-16; MAPISendMail takes them in the
// ANSI code page. Either way each attachment is given by a path that the
// code page carries: the system's MAPISendMailW hands a message to a mail
// client without one in ANSI, and a client opens the path with ANSI file
// functions.
#pragma once

#include "MailMessage.h"
#include "Message.h"
#include "WinApi.h"

#include <optional>
#include <string>
#include <vector>

namespace Granite {

inline const Bas::CMessageName ERR_TOOLS_INVALID_MAPI_DLL{L"ERR_TOOLS_INVALID_MAPI_DLL"};
inline const Bas::CMessageName ERR_TOOLS_FAILED_MAPI_SEND{L"ERR_TOOLS_FAILED_MAPI_SEND"};
inline const Bas::CMessageName ERR_TOOLS_NO_ATTACHMENT_COPY{L"ERR_TOOLS_NO_ATTACHMENT_COPY"};

// The user's cancel is silent; any other failure of the send function
// raises ERR_TOOLS_FAILED_MAPI_SEND with its code.
void SendBySimpleMapi(const CMailMessage& message);

// Whether the text comes back unchanged from the code page: no character
// lost to "?" and none taken for a look-alike ("ā" for "a").
bool SurvivesCodePage(const std::wstring& text, UINT codePage);
// The text with every character that does not survive the code page
// replaced (a surrogate pair as one character).
std::wstring ReplaceOutsideCodePage(const std::wstring& text, UINT codePage, wchar_t replacement);

// The form of a file's path that a mail system reading it in the code page
// opens: the path itself, else its short (8.3) form, whichever survives the
// code page, is shorter than MAX_PATH, beyond which ANSI file functions
// open nothing, and names the file without the "\\?\" prefix (no trailing
// dot or blank, no device name); empty when neither does (the file must be
// copied).
std::wstring PathForCodePage(const std::wstring& path, const std::wstring& shortPath, UINT codePage);
// The short form of an existing file's path; empty when the system gives
// none.
std::wstring ShortPathOf(const std::wstring& path);

// A recipient as the ANSI route gives it: none without a display name (the
// rule of both routes), none when the address does not survive the code
// page (a changed address would send the mail elsewhere; the user enters
// one in the dialog); a display name that does not survive shows the
// address instead.
std::optional<CMailAddress> RecipientForCodePage(const CMailAddress& recipient, UINT codePage);

// A copy of a file, named as the file with "_" for the characters outside
// the code page, in a new folder under the first root whose folder path
// survives the code page and where a folder can be made; the folder goes
// with the object. No such root raises ERR_TOOLS_NO_ATTACHMENT_COPY.
class CCodePageCopy {
public:
    CCodePageCopy(const std::wstring& source, const std::vector<std::wstring>& roots, UINT codePage);
    ~CCodePageCopy();
    CCodePageCopy(const CCodePageCopy&) = delete;
    CCodePageCopy& operator=(const CCodePageCopy&) = delete;

    const std::wstring& Path() const noexcept { return m_path; }

private:
    std::wstring m_folder;
    std::wstring m_path;
};
// The roots tried for such a copy: the user's temporary folder, the
// system's (%SystemRoot%\Temp) and the common application data folder.
std::vector<std::wstring> CopyRoots();

} // namespace Granite
