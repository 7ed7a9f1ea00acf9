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
#include <cwctype>
#include <string>
#include <vector>

namespace {

struct CQuery {
    std::wstring caption;
    std::wstring className;
    int childId = 0; // a control of this id must be in the window
    HWND found = nullptr;
};

BOOL CALLBACK MatchTopLevel(HWND window, LPARAM parameter)
{
    auto* query = reinterpret_cast<CQuery*>(parameter);
    if (!::IsWindowVisible(window))
        return TRUE;
    if (query->childId != 0 && ::GetDlgItem(window, query->childId) == nullptr)
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
    // "Caption", "class:NAME", either followed by "+ID" for a control the
    // window must have (the main dialog and its message boxes share a
    // caption).
    CQuery query;
    std::wstring name = spec;
    const auto plus = name.rfind(L'+');
    if (plus != std::wstring::npos && plus + 1 < name.size() && std::iswdigit(name[plus + 1])) {
        query.childId = std::stoi(name.substr(plus + 1));
        name.resize(plus);
    }
    if (name.rfind(L"class:", 0) == 0)
        query.className = name.substr(6);
    else
        query.caption = name;
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

// The text a window answers WM_GETTEXT with (for another process's edit
// control GetWindowTextW would not ask it).
std::wstring RawText(HWND window)
{
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                          5000, &copied);
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

std::wstring WindowText(HWND window)
{
    const std::wstring text = RawText(window);
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

wchar_t HexDigit(unsigned value)
{
    return L"0123456789abcdef"[value & 0xF];
}

std::wstring Hex(DWORD value)
{
    std::wstring text = L"0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        text += HexDigit(value >> shift);
    return text;
}

// "control <id> <class> style=0x... exstyle=0x... enabled=0|1 visible=0|1"
void PrintDetails(HWND window)
{
    auto line = [](const std::wstring& head, HWND w) {
        return head + L" style=" + Hex(static_cast<DWORD>(::GetWindowLongPtrW(w, GWL_STYLE))) + L" exstyle=" +
               Hex(static_cast<DWORD>(::GetWindowLongPtrW(w, GWL_EXSTYLE))) + L" enabled=" +
               (::IsWindowEnabled(w) ? L"1" : L"0") + L" visible=" + (::IsWindowVisible(w) ? L"1" : L"0") + L"\n";
    };
    wchar_t className[256] = {};
    ::GetClassNameW(window, className, 256);
    PrintUtf8(line(L"window " + std::wstring(className), window));
    for (HWND child : Children(window)) {
        ::GetClassNameW(child, className, 256);
        PrintUtf8(line(L"control " + std::to_wstring(::GetDlgCtrlID(child)) + L" " + className, child));
    }
}

int Usage()
{
    PrintUtf8(L"usage: UiDriver wait|details|gone|close <window> [seconds]\n"
              L"       UiDriver click <window> <id|text> [seconds]\n"
              L"       UiDriver text <window> <id>\n"
              L"       UiDriver settext <window> <id> <text>\n"
              L"<window>: a caption or class:NAME, with +ID for a control it must have\n");
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
    if (command == L"details" || command == L"close") {
        HWND window = WaitForWindow(spec, argc > 3 ? std::wcstod(argv[3], nullptr) : 30);
        if (window == nullptr) {
            PrintUtf8(L"no window " + spec + L"\n");
            return 1;
        }
        if (command == L"close")
            ::PostMessageW(window, WM_CLOSE, 0, 0);
        else
            PrintDetails(window);
        return 0;
    }
    if (command == L"text" || command == L"settext") {
        if (argc < (command == L"text" ? 4 : 5))
            return Usage();
        HWND window = WaitForWindow(spec, 30);
        HWND control = window != nullptr ? ::GetDlgItem(window, std::stoi(argv[3])) : nullptr;
        if (control == nullptr) {
            PrintUtf8(L"no control " + std::wstring(argv[3]) + L" in " + spec + L"\n");
            return 1;
        }
        if (command == L"text") {
            PrintUtf8(RawText(control));
            return 0;
        }
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]), SMTO_ABORTIFHUNG, 5000,
                              &result);
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
