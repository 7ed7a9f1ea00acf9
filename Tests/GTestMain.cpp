// The main function of every unit-test program: the library runs for the
// whole test run, and texts a test provokes are printed instead of shown in
// a message box that nobody would close.
#include "Library.h"
#include "MessageHandlers.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

class CTestMessageHandler : public Bas::CMessageHandler {
public:
    int ShowMessage(HWND, const std::wstring& text, const std::wstring&, UINT style) override
    {
        std::fwprintf(stderr, L"[message %#x] %ls\n", style, text.c_str());
        return (style & MB_TYPEMASK) == MB_YESNO || (style & MB_TYPEMASK) == MB_YESNOCANCEL ? IDYES : IDOK;
    }
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Bas::CLibrary library;
    CTestMessageHandler handler;
    Bas::SetApplicationMessageHandler(&handler);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    Bas::SetApplicationMessageHandler(nullptr);
    return result;
}
