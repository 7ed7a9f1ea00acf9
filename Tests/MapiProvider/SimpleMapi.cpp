// A stand-in MAPI32.dll for the Simple MAPI route, for the tests only:
// loaded beside the mail sender, it records each message it is handed into
// the file GLEAN_TEST_MAPI_LOG names, texts as UTF-8, and opens each
// attachment by the path it was given: the line tells the size read, and
// the bytes go into "<log>.sent.<n>" (n counting the message's files from
// 1). Built with SIMPLE_MAPI_UNICODE it also exports MAPISendMailW, as the
// libraries of newer systems do. With "simple-cancel" in the list
// GLEAN_TEST_MAPI_MODE gives it answers as if the user cancelled, with
// "simple-fail" with a failure.
#include <windows.h>

#include <mapi.h>

#ifdef SIMPLE_MAPI_UNICODE
#include "SimpleMapiW.h"
#endif

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[4096] = {};
    return ::GetEnvironmentVariableW(name, value, 4096) ? value : L"";
}

std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    quoted += text;
    quoted += '"';
    return quoted;
}

// ANSI texts are recorded as their bytes, as the mail system receives them.
std::string Text(const char* text)
{
    return text == nullptr ? "null" : Quoted(text);
}

HANDLE Open(const char* path)
{
    return ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

#ifdef SIMPLE_MAPI_UNICODE

std::string Utf8(const std::wstring& text)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    return bytes;
}

std::string Text(const wchar_t* text)
{
    return text == nullptr ? "null" : Quoted(Utf8(text));
}

HANDLE Open(const wchar_t* path)
{
    return ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

#endif

// Reads the attachment as a mail system would and keeps its bytes: "size=N",
// or "unreadable" with the error of the open.
template <class Char>
std::string ReadAttachment(const Char* path, ULONG index)
{
    const HANDLE file = path == nullptr ? INVALID_HANDLE_VALUE : Open(path);
    if (file == INVALID_HANDLE_VALUE)
        return "unreadable error=" + std::to_string(::GetLastError());
    std::vector<char> bytes;
    char block[65536];
    DWORD read = 0;
    while (::ReadFile(file, block, sizeof block, &read, nullptr) && read > 0)
        bytes.insert(bytes.end(), block, block + read);
    ::CloseHandle(file);
    const std::wstring kept = Environment(L"GLEAN_TEST_MAPI_LOG") + L".sent." + std::to_wstring(index + 1);
    if (FILE* copy = _wfopen(kept.c_str(), L"wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), copy);
        std::fclose(copy);
    }
    return "size=" + std::to_string(bytes.size());
}

template <class Message>
ULONG Record(const char* function, LHANDLE session, ULONG_PTR ui, const Message* message, FLAGS flags,
             ULONG reserved)
{
    if (FILE* file = _wfopen(Environment(L"GLEAN_TEST_MAPI_LOG").c_str(), L"ab")) {
        std::fprintf(file, "%s session=%lu ui=%lu flags=0x%lx reserved=%lu subject=%s body=%s originator=%s\n",
                     function, static_cast<unsigned long>(session), static_cast<unsigned long>(ui),
                     static_cast<unsigned long>(flags), static_cast<unsigned long>(reserved),
                     Text(message->lpszSubject).c_str(), Text(message->lpszNoteText).c_str(),
                     message->lpOriginator == nullptr ? "null" : "given");
        for (ULONG i = 0; i < message->nRecipCount; ++i)
            std::fprintf(file, "recipient class=%lu name=%s address=%s entry=%s\n",
                         static_cast<unsigned long>(message->lpRecips[i].ulRecipClass),
                         Text(message->lpRecips[i].lpszName).c_str(), Text(message->lpRecips[i].lpszAddress).c_str(),
                         message->lpRecips[i].lpEntryID == nullptr ? "null" : "given");
        for (ULONG i = 0; i < message->nFileCount; ++i)
            std::fprintf(file, "file flags=%lu position=0x%lx path=%s name=%s type=%s %s\n",
                         static_cast<unsigned long>(message->lpFiles[i].flFlags),
                         static_cast<unsigned long>(message->lpFiles[i].nPosition),
                         Text(message->lpFiles[i].lpszPathName).c_str(), Text(message->lpFiles[i].lpszFileName).c_str(),
                         message->lpFiles[i].lpFileType == nullptr ? "null" : "given",
                         ReadAttachment(message->lpFiles[i].lpszPathName, i).c_str());
        std::fprintf(file, "end recipients=%lu files=%lu\n", static_cast<unsigned long>(message->nRecipCount),
                     static_cast<unsigned long>(message->nFileCount));
        std::fclose(file);
    }
    const std::wstring modes = L"," + Environment(L"GLEAN_TEST_MAPI_MODE") + L",";
    if (modes.find(L",simple-cancel,") != std::wstring::npos)
        return MAPI_USER_ABORT;
    if (modes.find(L",simple-fail,") != std::wstring::npos)
        return MAPI_E_FAILURE;
    return SUCCESS_SUCCESS;
}

} // namespace

// The installer's component lookup: records the component and the whole
// qualifier list ("|" between its strings) and finds nothing.
extern "C" __declspec(dllexport) BOOL WINAPI FGetComponentPath(LPCSTR component, LPSTR qualifier, LPSTR, DWORD,
                                                             BOOL install)
{
    if (FILE* file = _wfopen(Environment(L"GLEAN_TEST_MAPI_LOG").c_str(), L"ab")) {
        std::string list;
        for (const char* at = qualifier; at != nullptr && *at != '\0'; at += std::strlen(at) + 1) {
            if (!list.empty())
                list += '|';
            list += at;
        }
        std::fprintf(file, "FGetComponentPath component=%s qualifier=%s install=%d\n", component, list.c_str(),
                     install);
        std::fclose(file);
    }
    return FALSE;
}

extern "C" __declspec(dllexport) ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR ui, lpMapiMessage message,
                                                          FLAGS flags, ULONG reserved)
{
    return Record("MAPISendMail", session, ui, message, flags, reserved);
}

#ifdef SIMPLE_MAPI_UNICODE

extern "C" __declspec(dllexport) ULONG WINAPI MAPISendMailW(LHANDLE session, ULONG_PTR ui, MapiMessageW* message,
                                                           FLAGS flags, ULONG reserved)
{
    return Record("MAPISendMailW", session, ui, message, flags, reserved);
}

#endif
