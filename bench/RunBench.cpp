// The whole silent run against the plain loop a minimal program needs for
// the same work, and the registry export against a minimal exporter, each
// printing "seconds S peak P private B entries N" (peak working set and
// peak private bytes). The
// script forms the ratios.
//   RunBench.exe glean SETTINGS_INI OUTPUT_ZIP
//   RunBench.exe loop OUTPUT_ZIP FOLDER      MD5 of every file, then level 9
//                                            raw deflate in 256 KiB chunks
//   RunBench.exe export|exportloop KEY OUTPUT   (a key under HKEY_CURRENT_USER)
//   RunBench.exe idle - -                    nothing: what the process
//                                            itself takes under Wine
#include "Errors.h"
#include "File.h"
#include "GleanAppLog.h"
#include "GleanSettings.h"
#include "Handles.h"
#include "Library.h"
#include "LogCollector.h"
#include "Md5.h"
#include "NativeFileSystem.h"
#include "RegistryExport.h"
#include "RegistryKey.h"
#include "RunReport.h"
#include "TempFile.h"
#include "TextStream.h"
#include "WorkerPool.h"
#include "ZipCompressor.h"
#include "ZipPipeline.h"
#include "ZipVerifier.h"

#include <psapi.h>
#include <zlib.h>

#include <algorithm>
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

void Files(const std::wstring& folder, std::vector<std::wstring>& found)
{
    WIN32_FIND_DATAW data;
    std::vector<std::wstring> names;
    Bas::CFindHandle find(::FindFirstFileW(Bas::LongPath(folder + L"\\*").c_str(), &data));
    if (!find)
        return;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            names.push_back((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? L"\\" : L"") + name);
    } while (::FindNextFileW(find.Get(), &data));
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        if (name[0] == L'\\')
            Files(folder + name, found);
        else
            found.push_back(folder + L"\\" + name);
    }
}

void Put(std::string& bytes, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes += static_cast<char>(value >> (8 * i));
}

struct CLoopEntry {
    std::string name;
    std::string comment;
    std::uint32_t crc, compressed, size, offset;
};

std::string Header(const CLoopEntry& e, bool central)
{
    std::string h;
    Put(h, central ? 0x02014B50 : 0x04034B50, 4);
    if (central)
        Put(h, 20, 2);
    for (std::uint32_t v : {20u, 0x0802u, 8u, 0u, 0u})
        Put(h, v, 2);
    Put(h, e.crc, 4);
    Put(h, e.compressed, 4);
    Put(h, e.size, 4);
    Put(h, static_cast<std::uint32_t>(e.name.size()), 2);
    Put(h, 0, 2);
    if (central) {
        Put(h, static_cast<std::uint32_t>(e.comment.size()), 2);
        Put(h, 0, 4);
        Put(h, 0x20, 4);
        Put(h, e.offset, 4);
    }
    return h + e.name + (central ? e.comment : std::string());
}

// The minimal program: every file digested, then deflated into a zip.
std::size_t Loop(const std::wstring& output, const std::wstring& folder)
{
    std::vector<std::wstring> files;
    Files(folder, files);
    std::vector<unsigned char> in(0x40000), out(0x40000);
    for (const auto& path : files) {
        Bas::CFile input(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
        Granite::CMd5 md5;
        for (std::size_t read; (read = input.Read(in.data(), in.size())) > 0;)
            md5.Update(in.data(), read);
        g_sink = g_sink + md5.Finish()[0];
    }
    Bas::CFile zip(output, Bas::CFile::OpenRead | Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
    std::vector<CLoopEntry> entries;
    for (const auto& path : files) {
        Bas::CFile input(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
        CLoopEntry entry{Granite::ToUtf8(path.substr(folder.size() + 1)), Granite::ToUtf8(path), 0, 0, 0,
                         static_cast<std::uint32_t>(zip.GetPosition())};
        const std::string header = Header(entry, false);
        zip.Write(header.data(), header.size());
        z_stream stream = {};
        deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        uLong crc = crc32(0, nullptr, 0);
        for (;;) {
            const std::size_t read = input.Read(in.data(), in.size());
            crc = crc32(crc, in.data(), static_cast<uInt>(read));
            entry.size += static_cast<std::uint32_t>(read);
            stream.next_in = in.data();
            stream.avail_in = static_cast<uInt>(read);
            const int flush = read < in.size() ? Z_FINISH : Z_NO_FLUSH;
            int result = Z_OK;
            do {
                stream.next_out = out.data();
                stream.avail_out = static_cast<uInt>(out.size());
                result = deflate(&stream, flush);
                zip.Write(out.data(), out.size() - stream.avail_out);
                entry.compressed += static_cast<std::uint32_t>(out.size() - stream.avail_out);
            } while (stream.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
            if (flush == Z_FINISH)
                break;
        }
        deflateEnd(&stream);
        entry.crc = static_cast<std::uint32_t>(crc);
        const std::uint64_t end = zip.GetPosition();
        zip.Seek(entry.offset);
        const std::string filled = Header(entry, false);
        zip.Write(filled.data(), filled.size());
        zip.Seek(end);
        entries.push_back(entry);
    }
    const std::uint64_t start = zip.GetPosition();
    for (const auto& entry : entries) {
        const std::string central = Header(entry, true);
        zip.Write(central.data(), central.size());
    }
    std::string record;
    Put(record, 0x06054B50, 4);
    Put(record, 0, 4);
    Put(record, static_cast<std::uint32_t>(entries.size()), 2);
    Put(record, static_cast<std::uint32_t>(entries.size()), 2);
    Put(record, static_cast<std::uint32_t>(zip.GetPosition() - start), 4);
    Put(record, static_cast<std::uint32_t>(start), 4);
    Put(record, 0, 2);
    zip.Write(record.data(), record.size());
    return entries.size();
}

// What the run's account costs, done once more on its own as the run does
// it: a report of an item a written entry, then the summary page and the
// manifest written and compressed into an archive on the run's workers.
double ReportSeconds(const std::vector<Granite::CZipEntry>& entries, const Glean::CGleanSettings& settings,
                     Bas::CWorkerPool* pool)
{
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    Glean::CRunReport report;
    Glean::SetProgram(report);
    report.items.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Glean::CRunItem& item = report.items.emplace_back();
        item.kind = Glean::CRunItem::File;
        item.source = i < settings.OtherFiles().size() ? settings.OtherFiles()[i].path : L"";
        Glean::SetEntry(item, entries[i]);
        item.archiveName = Granite::FromUtf8(entries[i].Name());
    }
    const std::wstring folder = Bas::CreateTempFolder(Bas::GetTempFolder());
    const std::wstring pagePath = Bas::JoinPath(folder, L"GleanSummary.html");
    const std::wstring manifestPath = Bas::JoinPath(folder, L"GleanManifest.json");
    {
        Bas::CFile page(pagePath, Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
        const std::string text = Glean::SummaryHtml(report);
        page.Write(text.data(), text.size());
        Bas::CFile manifest(manifestPath, Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
        Glean::WriteManifest(report, [&manifest](std::string_view part) { manifest.Write(part.data(), part.size()); });
    }
    Granite::CZipCompressor zip;
    zip.Open(Bas::JoinPath(folder, L"report.zip"));
    const std::wstring paths[] = {pagePath, manifestPath};
    std::size_t next = 0;
    Granite::CZipPipeline pipeline(
        zip, pool,
        [&](Granite::CZipPipeline::CSource& source) {
            if (next == 2)
                return false;
            source.path = paths[next++];
            source.name = Bas::FileNameOf(source.path);
            source.stream = true;
            source.level = Glean::kReportLevel;
            return true;
        },
        {});
    pipeline.AddNext();
    pipeline.AddNext();
    zip.Close();
    const double seconds = Seconds(start);
    Bas::RemoveFolderTree(folder);
    return seconds;
}

std::size_t RunGlean(const std::wstring& settingsPath, const std::wstring& output)
{
    Glean::CGleanSettings settings;
    Glean::CGleanAppLog log;
    settings.SetSettingsPath(settingsPath);
    settings.Load();
    Glean::CLogCollector collector;
    LARGE_INTEGER phase;
    ::QueryPerformanceCounter(&phase);
    collector.CollectLogs();
    std::printf("\ncollect %.3f", Seconds(phase));
    ::QueryPerformanceCounter(&phase);
    collector.PackArchive();
    std::printf("\npack %.3f", Seconds(phase));
    ::QueryPerformanceCounter(&phase);
    collector.CopyArchive(output);
    std::printf("\ncopy %.3f", Seconds(phase));
    // What reading the archive back costs, once more on its own, on the
    // workers the run has.
    const unsigned workers = Bas::CWorkerPool::WorkersFor(settings.Threads());
    std::unique_ptr<Bas::CWorkerPool> pool;
    if (workers > 0)
        pool = std::make_unique<Bas::CWorkerPool>(workers);
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    Granite::VerifyZipArchive(output, collector.ArchiveEntries(), {}, pool.get());
    std::printf("\nverify %.3f", Seconds(start));
    std::printf("\nreport %.3f", ReportSeconds(collector.ArchiveEntries(), settings, pool.get()));
    return settings.OtherFiles().size();
}

// The minimal exporter: every value of the key as a string line.
std::size_t ExportLoop(const std::wstring& key, const std::wstring& output)
{
    Bas::CRegistryKey open;
    open.Open(HKEY_CURRENT_USER, key.c_str());
    std::vector<std::wstring> lines = {L"Windows Registry Editor Version 5.00", L"", L"[HKEY_CURRENT_USER\\" + key + L"]"};
    std::vector<wchar_t> name(16384), data(16384);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        DWORD type = 0;
        if (::RegEnumValueW(open.Handle(), i, name.data(), &nameLength, nullptr, &type,
                            reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
            break;
        lines.push_back(L"\"" + std::wstring(name.data(), nameLength) + L"\"=\"" +
                        std::wstring(data.data(), size / sizeof(wchar_t) - (size ? 1 : 0)) + L"\"");
    }
    Bas::WriteLines(output, lines);
    return lines.size() - 3;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Bas::CLibrary library;
    if (argc != 4)
        return 2;
    const std::wstring mode = argv[1];
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    std::size_t entries = 0;
    try {
        if (mode == L"glean") {
            entries = RunGlean(argv[2], argv[3]);
        } else if (mode == L"loop") {
            entries = Loop(argv[2], argv[3]);
        } else if (mode == L"idle") {
        } else if (mode == L"export") {
            Glean::CGleanAppLog log;
            Glean::CWindowsRegistrySource source;
            Glean::CRegistryExporter(source).ExportKey(L"HKEY_CURRENT_USER\\" + std::wstring(argv[2]), argv[3]);
        } else {
            entries = ExportLoop(argv[2], argv[3]);
        }
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        std::fwprintf(stderr, L"%ls\n", error->GetMessageText().c_str());
        return 1;
    }
    const double seconds = Seconds(start);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    // The peak working set, and the peak of private bytes (the commit
    // charge), which buffers count in whether touched or not.
    std::printf("\nseconds %.3f peak %llu private %llu entries %zu\n", seconds,
                static_cast<unsigned long long>(counters.PeakWorkingSetSize),
                static_cast<unsigned long long>(counters.PeakPagefileUsage), entries);
    return 0;
}
