// A fresh, empty folder per test under the Windows temporary folder, removed
// with its contents afterwards.
#pragma once

#include "WinApi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Testing {

class CTestFolder {
public:
    CTestFolder();
    ~CTestFolder();
    CTestFolder(const CTestFolder&) = delete;
    CTestFolder& operator=(const CTestFolder&) = delete;

    const std::wstring& Path() const noexcept { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

    void WriteBytes(const std::wstring& name, const std::string& bytes) const;
    std::string ReadBytes(const std::wstring& name) const;

private:
    std::wstring m_path;
};

// The whole file, or nothing when it cannot be opened.
std::string ReadFileBytes(const std::wstring& path);
void RemoveTree(const std::wstring& path);

} // namespace Testing
