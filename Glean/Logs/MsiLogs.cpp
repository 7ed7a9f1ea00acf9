#include "MsiLogs.h"

#include <new>

#include "Errors.h"
#include "File.h"
#include "GleanAppLog.h"
#include "MessageLoopMica.h"
#include "NativeFileSystem.h"
#include "TextTools.h"
#include "generated/GleanMessages.h"

#include <algorithm>

namespace Glean {

CMsiLogReader::CMsiLogReader(const std::wstring& path)
{
    try {
        Open(path);
        const std::int64_t units = static_cast<std::int64_t>(Size() / 2);
        // A file of one byte holds no whole code unit and counts as empty.
        if (units == 0)
            return;
        m_position = units - 1;
        m_windowStart = m_position / kWindowUnits * kWindowUnits;
        Map(m_window, 2 * static_cast<std::uint64_t>(m_windowStart),
            static_cast<std::size_t>(2 * (m_position - m_windowStart) + 2));
    } catch (Bas::CUserException*) {
        throw;
    } catch (Bas::CException* raw) {
        auto error = Bas::Own(raw);
        m_window.Unmap();
        CGleanAppLog::Instance().AddLine(Bas::Format(MSG_MSI_LOG_OPEN_ERROR, path, error->GetMessageText()));
    }
}

bool CMsiLogReader::rawUnit(wchar_t& unit)
{
    if (m_position < m_windowStart) {
        if (!m_window.IsMapped())
            return false;
        m_window.Unmap();
        if (m_windowStart == 0)
            return false;
        m_windowStart -= kWindowUnits;
        // A long line spans many windows without a line break between them.
        Mica::PumpMessagesNowAndThen();
        Map(m_window, 2 * static_cast<std::uint64_t>(m_windowStart), 2 * kWindowUnits);
    }
    unit = static_cast<const wchar_t*>(m_window.Data())[m_position - m_windowStart];
    --m_position;
    return true;
}

bool CMsiLogReader::readUnit(wchar_t& unit)
{
    if (!rawUnit(unit))
        return false;
    // "\r\n" and a lone "\n" are one line break each.
    wchar_t before = 0;
    if (unit == L'\n' && rawUnit(before) && before != L'\r')
        ++m_position;
    return true;
}

bool CMsiLogReader::ReadPreviousLine(std::wstring& line)
{
    line.clear();
    bool any = false;
    wchar_t unit = 0;
    bool atStart = true;
    // The units come last first. Once the line holds the bound, it is a
    // ring: each unit read replaces the one read longest ago, at `oldest`,
    // so what is kept is the line's beginning.
    std::size_t oldest = 0;
    while (readUnit(unit)) {
        any = true;
        if (unit == L'\n') {
            atStart = false;
            break;
        }
        if (line.size() < kMaxLineUnits) {
            line.push_back(unit);
        } else {
            line[oldest] = unit;
            oldest = (oldest + 1) % kMaxLineUnits;
        }
    }
    if (!any)
        return false;
    std::rotate(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(oldest), line.end());
    if (atStart && !line.empty() && line.back() == 0xFEFF)
        line.pop_back();
    std::reverse(line.begin(), line.end());
    return true;
}

int FindProductIndex(const std::wstring& path, const std::vector<CMsiEntry>& products)
{
    static const std::wstring kPrefix = L"Property(S):";
    CMsiLogReader reader(path);
    std::wstring line;
    for (;;) {
        if (!reader.HasWindow())
            return 0;
        Mica::PumpMessages();
        reader.ReadPreviousLine(line);
        if (line.compare(0, kPrefix.size(), kPrefix) != 0)
            continue;
        const std::size_t equals = line.find(L'=', kPrefix.size());
        if (equals == std::wstring::npos)
            continue;
        if (Bas::Trim(line.substr(kPrefix.size(), equals - kPrefix.size())) != L"ProductName")
            continue;
        const std::wstring name = Bas::Trim(line.substr(equals + 1));
        for (std::size_t i = 0; i < products.size(); ++i) {
            if (products[i].productName == name)
                return static_cast<int>(i);
        }
        return -1;
    }
}

void CMsiLogs::Run(const std::vector<CMsiEntry>& products, const std::wstring& tempDir)
{
    files.clear();
    subFolders.clear();
    if (products.empty())
        return;
    if (!Bas::FolderExists(tempDir))
        return;
    auto logs = Bas::ListFolderEntries(tempDir, L"MSI*.log", Bas::FindFileEntries | Bas::SkipHiddenAndSystem);
    Bas::SortByNameNoCase(logs);
    for (const Bas::CFindEntry& log : logs) {
        const std::wstring path = Bas::JoinPath(tempDir, log.name);
        int index = -1;
        try {
            index = FindProductIndex(path, products);
        } catch (const std::bad_alloc&) {
            CGleanAppLog::Instance().AddLine(
                Bas::Format(MSG_MSI_LOG_OPEN_ERROR, path, Bas::CMemoryException().GetMessageText()));
            continue;
        }
        if (index < 0)
            continue;
        files.push_back(path);
        subFolders.push_back(products[index].subFolder);
    }
}

} // namespace Glean
