#include "Errors.h"
#include "TestFolder.h"
#include "ZipPipeline.h"

#include <gtest/gtest.h>

#include <random>

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

} // namespace
