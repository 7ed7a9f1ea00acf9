// A stand-in MAPI32.dll for the Simple MAPI route, for the tests only:
// loaded beside the mail sender, it records each message it is handed into
// the file GLEAN_TEST_MAPI_LOG names. With "simple-cancel" in the list
// GLEAN_TEST_MAPI_MODE gives it answers as if the user cancelled, with
// "simple-fail" with a failure.
#include <windows.h>

#include <mapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[4096] = {};
    return ::GetEnvironmentVariableW(name, value, 4096) ? value : L"";
}

std::string Text(const char* text)
{
    return text == nullptr ? "null" : "\"" + std::string(text) + "\"";
}

} // namespace

// The installer's component lookup: records the component and the whole
// qualifier list ("|" between its strings) and finds nothing.
extern "C" __declspec(dllexport) BOOL WINAPI FGetComponentPath(LPCSTR component, LPSTR qualifier, LPSTR, DWORD,
                                                             BOOL install)
{
    if (FILE* file = _wfopen(Environment(L"GLEAN_TEST_MAPI_LOG").c_str(), L"ab")) {
        std::string list;
        for (const char* at = qualifier; at != nullptr && *at != '\0'; at += std::strlen(at) + 1)
            list += (list.empty() ? "" : "|") + std::string(at);
        std::fprintf(file, "FGetComponentPath component=%s qualifier=%s install=%d\n", component, list.c_str(),
                     install);
        std::fclose(file);
    }
    return FALSE;
}

extern "C" __declspec(dllexport) ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR ui, lpMapiMessage message,
                                                          FLAGS flags, ULONG reserved)
{
    if (FILE* file = _wfopen(Environment(L"GLEAN_TEST_MAPI_LOG").c_str(), L"ab")) {
        std::fprintf(file, "MAPISendMail session=%lu ui=%lu flags=0x%lx reserved=%lu subject=%s body=%s originator=%s\n",
                     static_cast<unsigned long>(session), static_cast<unsigned long>(ui),
                     static_cast<unsigned long>(flags), static_cast<unsigned long>(reserved),
                     Text(message->lpszSubject).c_str(), Text(message->lpszNoteText).c_str(),
                     message->lpOriginator == nullptr ? "null" : "given");
        for (ULONG i = 0; i < message->nRecipCount; ++i)
            std::fprintf(file, "recipient class=%lu name=%s address=%s entry=%s\n",
                         static_cast<unsigned long>(message->lpRecips[i].ulRecipClass),
                         Text(message->lpRecips[i].lpszName).c_str(), Text(message->lpRecips[i].lpszAddress).c_str(),
                         message->lpRecips[i].lpEntryID == nullptr ? "null" : "given");
        for (ULONG i = 0; i < message->nFileCount; ++i)
            std::fprintf(file, "file flags=%lu position=0x%lx path=%s name=%s type=%s\n",
                         static_cast<unsigned long>(message->lpFiles[i].flFlags),
                         static_cast<unsigned long>(message->lpFiles[i].nPosition),
                         Text(message->lpFiles[i].lpszPathName).c_str(), Text(message->lpFiles[i].lpszFileName).c_str(),
                         message->lpFiles[i].lpFileType == nullptr ? "null" : "given");
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
