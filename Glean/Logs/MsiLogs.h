// The installer logs of the configured products: every "MSI*.log" of the
// settings' temp dir whose last "Property(S): ProductName = ..." line names
// one of the products. That line stands near the end of a log, so logs are
// read backwards through a memory mapping, one window at a time.
#pragma once

#include "FileMapping.h"
#include "GleanSettings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Glean {

class CMsiLogReader : public Bas::CFileMapping {
public:
    // Code units per mapped window (256 KiB).
    static constexpr std::int64_t kWindowUnits = 0x20000;
    // The most code units a line is read to (64 KiB): the deciding line is
    // short, and a log without line breaks must not become one string of
    // its size.
    static constexpr std::size_t kMaxLineUnits = 0x8000;

    // A log that cannot be opened or mapped gets an application-log line and
    // a reader without a window.
    explicit CMsiLogReader(const std::wstring& path);

    bool HasWindow() const noexcept { return m_window.IsMapped(); }
    // The next line going backwards, without its line break; false once the
    // start of the file has been passed. A longer line gives its first
    // kMaxLineUnits units, and the reading goes on before its start.
    bool ReadPreviousLine(std::wstring& line);

private:
    bool rawUnit(wchar_t& unit);
    bool readUnit(wchar_t& unit);

    std::int64_t m_position = -1;
    std::int64_t m_windowStart = 0;
    Bas::CMapping m_window;
};

// The index of the product a log belongs to, or -1. A log without a
// deciding line (an empty or unreadable one included) is the first product's.
int FindProductIndex(const std::wstring& path, const std::vector<CMsiEntry>& products);

// The selected logs and the archive sub-folder of each, in parallel.
struct CMsiLogs {
    std::vector<std::wstring> files;
    std::vector<std::wstring> subFolders;

    void Run(const std::vector<CMsiEntry>& products, const std::wstring& tempDir);
};

} // namespace Glean
