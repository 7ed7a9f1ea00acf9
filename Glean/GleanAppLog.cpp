#include "GleanAppLog.h"

#include "Errors.h"
#include "TempFile.h"
#include "TextStream.h"
#include "ZipCompressor.h"

#include <algorithm>
#include <string_view>

namespace Glean {

namespace {

CGleanAppLog* g_instance = nullptr;

constexpr std::size_t kBlockSize = 0x10000;

} // namespace

CGleanAppLog::CGleanAppLog()
{
    BAS_ASSERT(g_instance == nullptr);
    g_instance = this;
}

CGleanAppLog::~CGleanAppLog()
{
    g_instance = nullptr;
}

CGleanAppLog& CGleanAppLog::Instance()
{
    BAS_ASSERT(g_instance != nullptr);
    return *g_instance;
}

void CGleanAppLog::AddLine(const std::wstring& line)
{
    const std::string text = Granite::ToUtf8(line);
    if (m_blocks.empty() || m_blocks.back().size() + text.size() + 1 > m_blocks.back().capacity()) {
        m_blocks.emplace_back();
        m_blocks.back().reserve(std::max(kBlockSize, text.size() + 1));
    }
    m_blocks.back() += text;
    m_blocks.back() += '\0';
    m_writtenSize += 2 * (line.size() + 2);
}

template <class Visit>
void CGleanAppLog::forEachLine(Visit visit) const
{
    for (const std::string& block : m_blocks)
        for (std::size_t at = 0; at < block.size();) {
            const std::size_t end = block.find('\0', at);
            visit(std::string_view(block).substr(at, end - at));
            at = end + 1;
        }
}

std::vector<std::wstring> CGleanAppLog::Lines() const
{
    std::vector<std::wstring> lines;
    forEachLine([&](std::string_view line) { lines.push_back(Granite::FromUtf8(line)); });
    return lines;
}

void CGleanAppLog::Write() const
{
    BAS_ASSERT(!m_filePath.empty());
    // As WriteLines writes a list: UTF-16 with its mark, CR LF after each.
    Bas::CLogWriter file(m_filePath);
    forEachLine([&](std::string_view line) { file.WriteLine(Granite::FromUtf8(line)); });
    file.Close();
}

std::vector<std::wstring> EnvironmentEntries()
{
    std::vector<std::wstring> entries;
    wchar_t* block = ::GetEnvironmentStringsW();
    if (block == nullptr)
        return entries;
    for (const wchar_t* entry = block; *entry != L'\0'; entry += entries.back().size() + 1)
        entries.emplace_back(entry);
    ::FreeEnvironmentStringsW(block);
    return entries;
}

std::wstring WriteEnvironmentLog()
{
    const std::wstring path = Bas::CreateTempFile(Bas::GetTempFolder(), L"GEL", L"tmp");
    Bas::WriteLines(path, EnvironmentEntries());
    return path;
}

} // namespace Glean
