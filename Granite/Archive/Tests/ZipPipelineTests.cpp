#include "Errors.h"
#include "TestFolder.h"
#include "ZipPipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string_view>

namespace {

// The same sources through the writer alone and through workers give the
// same archive, byte for byte, and the same error at the same place.
TEST(ZipPipeline, WorkersWriteTheSameArchiveAsTheWriterAlone)
{
    Testing::CTestFolder folder;
    std::mt19937 random(11);
    struct CPlanned {
        std::wstring path, name, comment;
        bool stream;
    };
    std::vector<CPlanned> sources;
    for (int i = 0; i < 30; ++i) {
        std::string bytes(static_cast<std::size_t>(random() % 600000), '\0');
        for (char& c : bytes)
            c = i % 2 ? static_cast<char>(random()) : "abc \n"[random() % 5];
        const std::wstring name = L"f" + std::to_wstring(i) + L".bin";
        folder.WriteBytes(name, bytes);
        sources.push_back({folder / name, L"Logs/" + name, folder / name, i == 0});
    }
    folder.WriteBytes(L"empty.txt", "");
    sources.push_back({folder / L"empty.txt", L"empty.txt", L"", false});
    sources.insert(sources.begin() + 7, {folder / L"missing.txt", L"missing.txt", L"", false});

    const auto pack = [&](Bas::CWorkerPool* pool, const std::wstring& archive) {
        std::vector<std::wstring> errors;
        Granite::CZipCompressor zip;
        zip.Open(archive);
        std::size_t next = 0;
        Granite::CZipPipeline pipeline(
            zip, pool,
            [&](Granite::CZipPipeline::CSource& source) {
                if (next == sources.size())
                    return false;
                const auto& planned = sources[next++];
                source.path = planned.path;
                source.name = planned.name;
                source.comment = planned.comment;
                source.stream = planned.stream;
                return true;
            },
            {});
        for (std::size_t i = 0; i < sources.size(); ++i) {
            try {
                pipeline.AddNext();
            } catch (Bas::CException* raw) {
                errors.push_back(std::to_wstring(i) + L" " + Bas::Own(raw)->GetMessageText());
            }
        }
        zip.Close();
        return errors;
    };
    Bas::CWorkerPool pool(3);
    const auto alone = pack(nullptr, folder / L"alone.zip");
    const auto workers = pack(&pool, folder / L"workers.zip");
    EXPECT_EQ(alone.size(), 1u);
    EXPECT_EQ(alone, workers);
    const std::string bytes = folder.ReadBytes(L"alone.zip");
    EXPECT_GT(bytes.size(), 1000000u);
    EXPECT_TRUE(bytes == folder.ReadBytes(L"workers.zip"));
}

// An input that finds things as the privacy mask does: at the writer's turn
// at once, ahead of it only as what it met (its data void then), taking
// effect when the entry fails.
class CFindingInput : public Granite::IEntryInput {
public:
    CFindingInput(Bas::CFile& file, bool ahead, const std::wstring& path, std::vector<std::wstring>& found)
        : m_file(file), m_length(file.GetLength()), m_ahead(ahead), m_path(path), m_found(found)
    {
    }
    std::size_t Read(void* buffer, std::size_t size) override
    {
        const std::size_t read = m_file.Read(buffer, size);
        if (read > 0 && std::string_view(static_cast<const char*>(buffer), read).substr(0, 3) == "new") {
            if (m_ahead)
                m_met = true;
            else
                find();
        }
        return read;
    }
    std::uint64_t SourceLength() const override { return m_length; }
    bool SameLength() const override { return true; }
    bool Void() const override { return m_met; }
    void Settle() override
    {
        if (m_met)
            find();
    }

private:
    void find()
    {
        if (std::find(m_found.begin(), m_found.end(), m_path) == m_found.end())
            m_found.push_back(m_path);
    }
    Bas::CFile& m_file;
    std::uint64_t m_length;
    bool m_ahead;
    bool m_met = false;
    std::wstring m_path;
    std::vector<std::wstring>& m_found;
};

// What such an input finds, and in which order, is the same through the
// workers as through the writer alone: an entry the archive refuses finds
// nothing either way, one whose data was void finds at the writer's turn.
TEST(ZipPipeline, WhatInputsFindIsTheSameWithWorkers)
{
    Testing::CTestFolder folder;
    const std::vector<std::pair<std::wstring, std::string>> files = {
        {L"a.txt", "new a"}, {L"b.txt", "old b"}, {L"c.txt", "new c"}, {L"d.txt", "new d"}};
    for (const auto& [name, bytes] : files)
        folder.WriteBytes(name, bytes);
    const auto pack = [&](Bas::CWorkerPool* pool, const std::wstring& archive) {
        std::vector<std::wstring> found;
        Granite::CZipCompressor zip;
        zip.Open(archive);
        std::size_t next = 0;
        Granite::CZipPipeline pipeline(
            zip, pool,
            [&](Granite::CZipPipeline::CSource& source) {
                if (next == files.size())
                    return false;
                source.path = folder / files[next].first;
                source.name = files[next++].first;
                source.input = [&found, path = source.path](Bas::CFile& file, bool ahead) {
                    return std::make_unique<CFindingInput>(file, ahead, path, found);
                };
                return true;
            },
            {});
        // The third entry finds the archive full.
        zip.ReserveEntries(Granite::CZipCompressor::kMaxEntries - 2);
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (i == 3)
                zip.ReserveEntries(0);
            try {
                pipeline.AddNext();
            } catch (Bas::CException* raw) {
                Bas::Own(raw);
                found.push_back(L"refused " + files[i].first);
            }
        }
        zip.Close();
        return found;
    };
    Bas::CWorkerPool pool(3);
    const auto alone = pack(nullptr, folder / L"alone.zip");
    EXPECT_EQ(alone, (std::vector<std::wstring>{folder / L"a.txt", L"refused c.txt", folder / L"d.txt"}));
    EXPECT_EQ(pack(&pool, folder / L"workers.zip"), alone);
    EXPECT_TRUE(folder.ReadBytes(L"alone.zip") == folder.ReadBytes(L"workers.zip"));
}

} // namespace
