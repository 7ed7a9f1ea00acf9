// Packing throughput and memory of the zip writer against a plain loop over
// the same zlib calls. Prints seconds per pass; the script forms the ratios.
//   ZipBench.exe writer|loop OUTPUT FILE...
#include "File.h"
#include "Library.h"
#include "ZipCompressor.h"

#include <psapi.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

volatile unsigned long g_sink;

double Seconds(LARGE_INTEGER start)
{
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

// Level 9, raw deflate, the same chunk size as the writer, CRC included.
void PlainLoop(const std::wstring& source, Bas::CFile& output)
{
    Bas::CFile input(source, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    z_stream stream = {};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::vector<unsigned char> in(0x40000), out(0x40000);
    unsigned long crc = crc32(0, nullptr, 0);
    for (;;) {
        const std::size_t read = input.Read(in.data(), in.size());
        crc = crc32(crc, in.data(), static_cast<uInt>(read));
        stream.next_in = in.data();
        stream.avail_in = static_cast<uInt>(read);
        const int flush = read == 0 ? Z_FINISH : Z_NO_FLUSH;
        int result = Z_OK;
        do {
            stream.next_out = out.data();
            stream.avail_out = static_cast<uInt>(out.size());
            result = deflate(&stream, flush);
            output.Write(out.data(), out.size() - stream.avail_out);
        } while (stream.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
        if (read == 0)
            break;
    }
    deflateEnd(&stream);
    g_sink = crc;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Bas::CLibrary library;
    if (argc < 4)
        return 2;
    const std::wstring mode = argv[1];
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    if (mode == L"writer") {
        Granite::CZipCompressor zip;
        zip.Open(argv[2]);
        for (int i = 3; i < argc; ++i)
            zip.AddFile(argv[i], L"f" + std::to_wstring(i), L"");
        zip.Close();
    } else {
        Bas::CFile output(argv[2], Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
        for (int i = 3; i < argc; ++i)
            PlainLoop(argv[i], output);
    }
    const double seconds = Seconds(start);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    std::printf("\nseconds %.3f peak %llu\n", seconds, static_cast<unsigned long long>(counters.PeakWorkingSetSize));
    return 0;
}
