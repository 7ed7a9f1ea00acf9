// Holds a file open without sharing, creates READY_FLAG, and waits until
// RELEASE_FLAG appears (ten minutes at most), so a test can run a
// collection while it is locked, however long a loaded machine takes.
//   FileLocker.exe FILE READY_FLAG RELEASE_FLAG
#include "File.h"
#include "Library.h"

int wmain(int argc, wchar_t** argv)
{
    Bas::CLibrary library;
    if (argc != 4)
        return 2;
    Bas::CFile locked(argv[1], Bas::CFile::OpenRead);
    Bas::CFile(argv[2], Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
    for (int i = 0; i < 6000 && !Bas::FileExists(argv[3]); ++i)
        ::Sleep(100);
    return 0;
}
