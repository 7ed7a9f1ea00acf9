#include "GleanAppLog.h"

#include "Errors.h"
#include "TempFile.h"
#include "TextStream.h"

namespace Glean {

namespace {

CGleanAppLog* g_instance = nullptr;

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

void CGleanAppLog::Write() const
{
    BAS_ASSERT(!m_filePath.empty());
    Bas::WriteLines(m_filePath, m_lines);
}

std::wstring WriteEnvironmentLog()
{
    const std::wstring path = Bas::CreateTempFile(Bas::GetTempFolder(), L"GEL", L"tmp");
    wchar_t* block = ::GetEnvironmentStringsW();
    if (block == nullptr)
        return path;
    std::vector<std::wstring> lines;
    for (const wchar_t* entry = block; *entry != L'\0'; entry += lines.back().size() + 1)
        lines.emplace_back(entry);
    ::FreeEnvironmentStringsW(block);
    Bas::WriteLines(path, lines);
    return path;
}

} // namespace Glean
