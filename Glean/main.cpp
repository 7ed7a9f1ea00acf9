#include "GleanApp.h"
#include "Library.h"
#include "OsVersion.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int)
{
#ifdef GLEAN_STAND_IN_FOR_WOW64
    // The 64-bit test build behaves as the 32-bit program does on 64-bit
    // Windows; the delivered 32-bit build asks the system.
    Bas::StandInForWow64Process();
#endif
    Bas::CLibrary library;
    Glean::CGleanApp application;
    return application.Run();
}
