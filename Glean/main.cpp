#include "GleanApp.h"
#include "Library.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int)
{
    Bas::CLibrary library;
    Glean::CGleanApp application;
    return application.Run();
}
