// Writes one text through the process's default message handler, so the
// tests can see what each kind of standard output receives.
//   ConsoleProbe                 writes the text to its standard output
//   ConsoleProbe append FILE     runs itself with FILE, opened for reading
//                                and writing at its end, as standard output
//                                (a shell's redirection under Wine gives a
//                                write-only handle)
#include "Handles.h"
#include "Library.h"
#include "MessageHandlers.h"

#include <string>

namespace {

int RunWithOutput(const wchar_t* path)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    Bas::CFileHandle file(::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inherit, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return 10;
    LARGE_INTEGER zero = {};
    ::SetFilePointerEx(file.Get(), zero, nullptr, FILE_END);
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = file.Get();
    startup.hStdError = file.Get();
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(self, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return 11;
    Bas::CKernelHandle child(process.hProcess);
    Bas::CKernelHandle thread(process.hThread);
    ::WaitForSingleObject(child.Get(), INFINITE);
    DWORD code = 12;
    ::GetExitCodeProcess(child.Get(), &code);
    return static_cast<int>(code);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wstring(argv[1]) == L"append")
        return RunWithOutput(argv[2]);
    Bas::CLibrary library;
    const int answer = Bas::DefaultMessageHandler().ShowMessage(nullptr, L"first line\nsecond\r\nthird", L"Probe",
                                                                MB_YESNOCANCEL | MB_DEFBUTTON3);
    return answer == IDCANCEL ? 0 : 1;
}
