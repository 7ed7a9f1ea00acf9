#include "TestFolder.h"

#include "Handles.h"
#include "NativeFileSystem.h"

#include <atomic>

namespace Testing {

CTestFolder::CTestFolder()
{
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "test";
    for (char& c : name)
        if (c == '/')
            c = '_';
    m_path = std::wstring(temp) + L"basalt-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(++counter) + L"-" + std::wstring(name.begin(), name.end());
    RemoveTree(m_path);
    ::CreateDirectoryW(m_path.c_str(), nullptr);
}

CTestFolder::~CTestFolder()
{
    RemoveTree(m_path);
}

void CTestFolder::WriteBytes(const std::wstring& name, const std::string& bytes) const
{
    Bas::CFileHandle file(::CreateFileW((*this / name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid());
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
}

std::string CTestFolder::ReadBytes(const std::wstring& name) const
{
    return ReadFileBytes(*this / name);
}

std::string ReadFileBytes(const std::wstring& path)
{
    Bas::CFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return {};
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    return bytes;
}

void RemoveTree(const std::wstring& path)
{
    Bas::RemoveFolderTree(path);
}

} // namespace Testing
