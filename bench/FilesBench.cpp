// Listing throughput of the files log against a plain loop that reads the
// same files in 256 KiB blocks and digests them. Prints seconds per pass;
// the script forms the ratios.
//   FilesBench.exe log|loop FOLDER
#include "File.h"
#include "FilesLog.h"
#include "Handles.h"
#include "Library.h"
#include "Md5.h"
#include "NativeFileSystem.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

volatile std::size_t g_sink;

double Seconds(LARGE_INTEGER start)
{
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

void PlainLoop(const std::wstring& folder, std::vector<unsigned char>& buffer)
{
    WIN32_FIND_DATAW data;
    Bas::CFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find)
        return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const std::wstring path = folder + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            PlainLoop(path, buffer);
            continue;
        }
        Bas::CFile input(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
        Granite::CMd5 md5;
        for (;;) {
            const std::size_t read = input.Read(buffer.data(), buffer.size());
            md5.Update(buffer.data(), read);
            if (read < buffer.size())
                break;
        }
        g_sink = g_sink + md5.Finish()[0];
    } while (::FindNextFileW(find.Get(), &data));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Bas::CLibrary library;
    if (argc != 3)
        return 2;
    const std::wstring mode = argv[1];
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    if (mode == L"log") {
        std::vector<std::wstring> lines;
        Glean::ListFolder(L"  ", argv[2], true, lines);
        g_sink = lines.size();
    } else {
        std::vector<unsigned char> buffer(0x40000);
        PlainLoop(argv[2], buffer);
    }
    std::printf("\nseconds %.3f\n", Seconds(start));
    return 0;
}
