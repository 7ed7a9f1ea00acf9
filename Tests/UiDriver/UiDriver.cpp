// A small driver for window tests, run under Wine beside the program it
// watches:
//   UiDriver wait  <caption | class:NAME> [seconds]   print the window's controls
//   UiDriver click <caption | class:NAME> <id | text> [seconds]
//   UiDriver gone  <caption | class:NAME> [seconds]   wait until it has closed
// Output is UTF-8, one line a control: "control <id> <class> <text>", with
// line breaks in texts written as \n and \r.
#include "Handles.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct CQuery {
    std::wstring caption;
    std::wstring className;
    HWND found = nullptr;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM parameter)
{
    auto* query = reinterpret_cast<CQuery*>(parameter);
    if (!::IsWindowVisible(window))
        return TRUE;
    wchar_t text[512] = {};
    if (!query->className.empty()) {
        ::GetClassNameW(window, text, 512);
        if (query->className == text) {
            query->found = window;
            return FALSE;
        }
        return TRUE;
    }
    ::GetWindowTextW(window, text, 512);
    if (query->caption == text) {
        query->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitForWindow(const std::wstring& spec, double seconds)
{
    CQuery query;
    if (spec.rfind(L"class:", 0) == 0)
        query.className = spec.substr(6);
    else
        query.caption = spec;
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    do {
        query.found = nullptr;
        ::EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&query));
        if (query.found != nullptr)
            return query.found;
        ::Sleep(100);
    } while (::GetTickCount64() < deadline);
    return nullptr;
}

void PrintUtf8(const std::wstring& text)
{
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                             nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), length, nullptr,
                          nullptr);
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring WindowText(HWND window)
{
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), length + 1)));
    std::wstring escaped;
    for (wchar_t c : text) {
        if (c == L'\n')
            escaped += L"\\n";
        else if (c == L'\r')
            escaped += L"\\r";
        else
            escaped += c;
    }
    return escaped;
}

std::vector<HWND> Children(HWND window)
{
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(window, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

void PrintWindow(HWND window)
{
    wchar_t className[256] = {};
    ::GetClassNameW(window, className, 256);
    PrintUtf8(L"window " + std::wstring(className) + L" " + WindowText(window) + L"\n");
    for (HWND child : Children(window)) {
        ::GetClassNameW(child, className, 256);
        PrintUtf8(L"control " + std::to_wstring(::GetDlgCtrlID(child)) + L" " + className + L" " +
                  WindowText(child) + L"\n");
    }
}

// A button by its numeric id or by its caption (an "&" in the caption is
// ignored).
HWND FindButton(HWND window, const std::wstring& which)
{
    wchar_t* end = nullptr;
    const long id = std::wcstol(which.c_str(), &end, 10);
    const bool numeric = end != which.c_str() && *end == L'\0';
    for (HWND child : Children(window)) {
        if (numeric && ::GetDlgCtrlID(child) == id)
            return child;
        std::wstring text = WindowText(child);
        std::erase(text, L'&');
        if (!numeric && text == which)
            return child;
    }
    return nullptr;
}

int Usage()
{
    PrintUtf8(L"usage: UiDriver wait|click|gone <caption|class:NAME> [id|text] [seconds]\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return Usage();
    const std::wstring command = argv[1];
    const std::wstring spec = argv[2];
    if (command == L"wait" || command == L"gone") {
        const double seconds = argc > 3 ? std::wcstod(argv[3], nullptr) : 30;
        if (command == L"gone") {
            const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
            while (WaitForWindow(spec, 0) != nullptr) {
                if (::GetTickCount64() > deadline)
                    return 1;
                ::Sleep(100);
            }
            return 0;
        }
        HWND window = WaitForWindow(spec, seconds);
        if (window == nullptr) {
            PrintUtf8(L"no window " + spec + L"\n");
            return 1;
        }
        PrintWindow(window);
        return 0;
    }
    if (command == L"click") {
        if (argc < 4)
            return Usage();
        const double seconds = argc > 4 ? std::wcstod(argv[4], nullptr) : 30;
        HWND window = WaitForWindow(spec, seconds);
        if (window == nullptr) {
            PrintUtf8(L"no window " + spec + L"\n");
            return 1;
        }
        HWND button = FindButton(window, argv[3]);
        if (button == nullptr) {
            PrintUtf8(L"no button " + std::wstring(argv[3]) + L"\n");
            return 1;
        }
        // Posted, so that a modal loop in the watched program handles it.
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED),
                       reinterpret_cast<LPARAM>(button));
        return 0;
    }
    return Usage();
}
