// Raises internal errors for the reporting tests, reported through message
// boxes:
//   ErrorProbe third       three internal errors, one after the other
//   ErrorProbe assert      a failed check with throwing off: reported, then
//                          the program goes on and prints "continued"
//   ErrorProbe nested      a failed check while a report is shown
//   ErrorProbe uncaught    an exception that nothing catches
#include "ErrorReporting.h"
#include "Library.h"
#include "MessageHandlers.h"

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    Bas::CLibrary library;
    Bas::CMessageBoxHandler boxes;
    Bas::SetApplicationMessageHandler(&boxes);
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"third") {
        for (int i = 1; i <= 3; ++i) {
            Bas::CInternalError error(Bas::EInternalError::Assertion, L"probe.cpp", i);
            error.Report();
        }
    } else if (mode == L"assert") {
        Bas::SetInternalErrorsThrow(false);
        BAS_ASSERT(argc == 99);
    } else if (mode == L"nested") {
        Bas::CReportingScope reporting;
        BAS_ASSERT(argc == 99);
    } else if (mode == L"uncaught") {
        throw 1;
    } else {
        return 2;
    }
    std::printf("continued\n");
    std::fflush(stdout);
    Bas::SetApplicationMessageHandler(nullptr);
    return 0;
}
