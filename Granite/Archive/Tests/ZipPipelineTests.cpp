#include "ArchiveMessages.h"
#include "Errors.h"
#include "TestFolder.h"
#include "ZipPipeline.h"
#include "ZipVerifier.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <random>
#include <string_view>
#include <utility>

namespace {

using CSource = Granite::CZipPipeline::CSource;

struct CRun {
    std::vector<std::wstring> errors;
    std::string bytes;
    std::uint64_t peakHeld = 0;
};

// The sources through the writer alone (no pool) or through the workers,
// with the error of each failed entry in order and the archive's bytes; the
// archive is read back against its records.
CRun Pack(const Testing::CTestFolder& folder, const std::vector<CSource>& sources, Bas::CWorkerPool* pool,
          const std::wstring& archive, std::uint64_t reserve = 0)
{
    CRun run;
    Granite::CZipCompressor zip;
    zip.Open(folder / archive);
    // Folders of both archives dated alike.
    zip.SetDirectoryTime(0x5B8A, 0x6000);
    zip.ReserveBytes(reserve);
    std::size_t next = 0;
    {
        Granite::CZipPipeline pipeline(
            zip, pool,
            [&](CSource& source) {
                if (next == sources.size())
                    return false;
                source = sources[next++];
                return true;
            },
            [&] {
                if (pool != nullptr)
                    run.peakHeld = std::max(run.peakHeld, pool->Held());
            });
        for (std::size_t i = 0; i < sources.size(); ++i) {
            try {
                pipeline.AddNext();
            } catch (Bas::CException* raw) {
                run.errors.push_back(std::to_wstring(i) + L" " + Bas::Own(raw)->GetMessageText());
            }
            if (pool != nullptr)
                run.peakHeld = std::max(run.peakHeld, pool->Held());
        }
    }
    zip.ReserveBytes(0);
    zip.Close();
    Granite::VerifyZipArchive(folder / archive, zip.Entries());
    run.bytes = folder.ReadBytes(archive);
    return run;
}

std::string Text(std::mt19937& random, std::size_t size)
{
    static const char* const words[] = {"error ", "request ", "done ", "retry\r\n", "12:30:45 ", "session "};
    std::string text;
    while (text.size() < size)
        text += words[random() % 6];
    text.resize(size);
    return text;
}

std::string Noise(std::mt19937& random, std::size_t size)
{
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

// The same sources through the writer alone and through workers give the
// same archive, byte for byte, and the same error at the same place: small
// files, files of many blocks (one deflate stream whatever worker made each
// block), a missing file, and a sparse file of 5 GiB alone in its folder,
// refused for its size after its folder entry, as the writer alone does.
TEST(ZipPipeline, WorkersWriteTheSameArchiveAsTheWriterAlone)
{
    Testing::CTestFolder folder;
    std::mt19937 random(11);
    std::vector<CSource> sources;
    const auto add = [&](const std::wstring& name, const std::string& bytes, bool stream = false) {
        folder.WriteBytes(name, bytes);
        CSource source;
        source.path = folder / name;
        source.name = L"Logs/" + name;
        source.comment = source.path;
        source.stream = stream;
        source.size = bytes.size();
        sources.push_back(source);
    };
    for (int i = 0; i < 30; ++i) {
        const std::size_t size = random() % 600000;
        add(L"f" + std::to_wstring(i) + L".bin", i % 2 ? Noise(random, size) : Text(random, size), i == 0);
    }
    add(L"large.log", Text(random, 3 * Granite::CBlockDeflater::kBlockSize + 12345));
    // The same at a quicker level: each block at its entry's level.
    add(L"quick.log", Text(random, 3 * Granite::CBlockDeflater::kBlockSize + 12345));
    sources.back().level = 1;
    const CSource quick = sources.back();
    add(L"block.bin", Noise(random, 2 * Granite::CBlockDeflater::kBlockSize));
    add(L"empty.txt", "");
    sources.insert(sources.begin() + 7, CSource{folder / L"missing.txt", L"missing.txt", L"", false, {}, 0});
    ASSERT_TRUE(::CreateDirectoryW((folder / L"huge").c_str(), nullptr));
    {
        Bas::CFile sparse(folder / L"huge\\sparse.bin", Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
        sparse.SetLength(5ull << 30);
    }
    sources.push_back(CSource{folder / L"huge\\sparse.bin", L"Huge/sparse.bin", L"", false, {}, 5ull << 30});
    add(L"after.txt", "after");

    Bas::CWorkerPool pool(3);
    const CRun alone = Pack(folder, sources, nullptr, L"alone.zip");
    const CRun workers = Pack(folder, sources, &pool, L"workers.zip");
    ASSERT_EQ(alone.errors.size(), 2u);
    EXPECT_EQ(alone.errors, workers.errors);
    EXPECT_GT(alone.bytes.size(), 5000000u);
    EXPECT_NE(alone.bytes.find("Huge/"), std::string::npos) << "the refused file's folder stays";
    EXPECT_TRUE(alone.bytes == workers.bytes);
    EXPECT_EQ(pool.Held(), 0u);
    CSource strongest = quick;
    strongest.level = Granite::CZDeflateStream::kBestLevel;
    EXPECT_GT(Pack(folder, {quick}, &pool, L"quick.zip").bytes.size(),
              Pack(folder, {strongest}, &pool, L"best.zip").bytes.size());
}

// An input that ends early, as a file that shrinks while it is read, and a
// filter whose data made ahead turns void at its third block (as the mask's
// does when it meets a new original) give the same archive either way.
TEST(ZipPipeline, AShrinkingInputAndVoidDataEndAsTheWriterAloneEndsThem)
{
    Testing::CTestFolder folder;
    std::mt19937 random(5);
    const std::uint64_t block = Granite::CBlockDeflater::kBlockSize;
    folder.WriteBytes(L"text.log", Text(random, static_cast<std::size_t>(5 * block)));
    // Takes the file's bytes, but ends after `limit` of them; ahead of the
    // writer it turns void once `voidAt` bytes are read.
    class CTestInput : public Granite::IEntryInput {
    public:
        CTestInput(Bas::CFile& file, std::uint64_t limit, std::uint64_t voidAt)
            : m_file(file), m_limit(limit), m_voidAt(voidAt)
        {
        }
        std::size_t Read(void* buffer, std::size_t size) override
        {
            const std::size_t read = m_file.Read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(size, m_limit - m_read)));
            m_read += read;
            return read;
        }
        std::uint64_t SourceLength() const override { return m_file.GetLength(); }
        bool SameLength() const override { return false; }
        bool Void() const override { return m_read >= m_voidAt; }

    private:
        Bas::CFile& m_file;
        std::uint64_t m_limit;
        std::uint64_t m_voidAt;
        std::uint64_t m_read = 0;
    };
    std::vector<CSource> sources;
    using CCase = std::pair<std::uint64_t, std::uint64_t>;
    const std::uint64_t never = ~std::uint64_t(0);
    for (const auto& [limit, voidAt] : {CCase{3 * block + 500, never}, CCase{2 * block, never},
                                        CCase{5 * block, 2 * block + 1}, CCase{3 * block, 3 * block}}) {
        CSource source;
        source.path = folder / L"text.log";
        source.name = L"part" + std::to_wstring(sources.size()) + L".log";
        source.size = limit;
        source.input = [limit = limit, voidAt = voidAt, never](Bas::CFile& file,
                                                               bool ahead) -> std::unique_ptr<Granite::IEntryInput> {
            return std::make_unique<CTestInput>(file, limit, ahead ? voidAt : never);
        };
        sources.push_back(source);
    }
    Bas::CWorkerPool pool(2);
    const CRun alone = Pack(folder, sources, nullptr, L"alone.zip");
    const CRun workers = Pack(folder, sources, &pool, L"workers.zip");
    EXPECT_TRUE(alone.errors.empty());
    EXPECT_TRUE(alone.bytes == workers.bytes);
}

// An allocation that fails for what a source holds is that entry's
// out-of-memory error, before its data or in the middle of it, and the
// entries after it go in: the same either way.
TEST(ZipPipeline, AnAllocationFailureIsItsEntrysError)
{
    Testing::CTestFolder folder;
    std::mt19937 random(9);
    folder.WriteBytes(L"text.log", Text(random, 3 * Granite::CBlockDeflater::kBlockSize));
    class CFailingInput : public Granite::CFileInput {
    public:
        CFailingInput(Bas::CFile& file, int failAt) : CFileInput(file), m_failAt(failAt) {}
        std::size_t Read(void* buffer, std::size_t size) override
        {
            if (++m_reads == m_failAt)
                throw std::bad_alloc();
            return CFileInput::Read(buffer, size);
        }

    private:
        int m_failAt;
        int m_reads = 0;
    };
    std::vector<CSource> sources;
    for (const int failAt : {0, -1, 2, 0}) {
        CSource source;
        source.path = folder / L"text.log";
        source.name = L"e" + std::to_wstring(sources.size()) + L".log";
        if (failAt != 0)
            source.input = [failAt](Bas::CFile& file, bool) -> std::unique_ptr<Granite::IEntryInput> {
                if (failAt < 0)
                    throw std::bad_alloc();
                return std::make_unique<CFailingInput>(file, failAt);
            };
        sources.push_back(source);
    }
    Bas::CWorkerPool pool(2);
    const CRun alone = Pack(folder, sources, nullptr, L"alone.zip");
    const CRun workers = Pack(folder, sources, &pool, L"workers.zip");
    const std::wstring memory = Bas::CMemoryException().GetMessageText();
    EXPECT_EQ(alone.errors, (std::vector<std::wstring>{L"1 " + memory, L"2 " + memory}));
    EXPECT_EQ(alone.errors, workers.errors);
    EXPECT_TRUE(alone.bytes == workers.bytes);
}

// Results ahead of the writer stay within the budget, and an entry that
// cannot fit in the archive's room is refused as the writer alone refuses
// it, its reading stopped on the workers. A block of data that does not
// compress holds no more than its reserve, not a second piece for its
// last bytes.
TEST(ZipPipeline, MemoryStaysWithinTheBudgetAndTheRoomBoundsTheWork)
{
    Testing::CTestFolder folder;
    std::mt19937 random(3);
    {
        const std::string noise = Noise(random, Granite::CBlockDeflater::kBlockSize);
        Granite::CBlockDeflater deflater;
        Granite::CBlockDeflater::CBlock block;
        deflater.Deflate(reinterpret_cast<const unsigned char*>(noise.data()), noise.size(), {}, false, block);
        EXPECT_LE(block.Reserved(), Granite::CBlockDeflater::ReserveFor(noise.size()));
    }
    std::vector<CSource> sources;
    for (int i = 0; i < 40; ++i) {
        const std::wstring name = L"n" + std::to_wstring(i) + L".bin";
        folder.WriteBytes(name, Noise(random, 3 * Granite::CBlockDeflater::kBlockSize / 2));
        sources.push_back(CSource{folder / name, name, L"", false, {}, 3 * Granite::CBlockDeflater::kBlockSize / 2});
    }
    Bas::CWorkerPool pool(4);
    const CRun workers = Pack(folder, sources, &pool, L"workers.zip");
    EXPECT_LE(workers.peakHeld, Granite::CZipPipeline::kMemoryBudget + 4 * (2u << 20));
    EXPECT_TRUE(workers.errors.empty());

    // Room for about 20 MiB: the rest is refused, the same entries either way.
    const std::uint64_t reserve = Granite::CZipCompressor::kMaxPosition - (20u << 20);
    const CRun alone = Pack(folder, sources, nullptr, L"alone-room.zip", reserve);
    const CRun room = Pack(folder, sources, &pool, L"workers-room.zip", reserve);
    EXPECT_EQ(alone.errors.size(), 27u);
    EXPECT_EQ(alone.errors, room.errors);
    EXPECT_TRUE(alone.bytes == room.bytes);
    EXPECT_EQ(pool.Held(), 0u);
}

// A writer held up while it waits (its message pump in a modal loop, a
// window dragged) leaves the workers no more of its one large file in
// memory than the budget and a block a worker: not the whole file.
TEST(ZipPipeline, AWriterHeldUpLeavesNoMoreThanTheBudget)
{
    Testing::CTestFolder folder;
    const std::uint64_t length = 160 * Granite::CBlockDeflater::kBlockSize;
    {
        Bas::CFile sparse(folder / L"large.bin", Bas::CFile::OpenWrite | Bas::CFile::OpenCreate);
        sparse.SetLength(length);
    }
    // The file as it is, its first read slow enough that the writer waits
    // for it, and pumps.
    class CSlowStart : public Granite::CFileInput {
    public:
        using CFileInput::CFileInput;
        std::size_t Read(void* buffer, std::size_t size) override
        {
            if (std::exchange(m_first, false))
                ::Sleep(50);
            return CFileInput::Read(buffer, size);
        }

    private:
        bool m_first = true;
    };
    CSource source{folder / L"large.bin", L"large.bin", L"", false, {}, length};
    source.input = [](Bas::CFile& file, bool) { return std::make_unique<CSlowStart>(file); };
    Bas::CWorkerPool pool(4);
    Granite::CZipCompressor zip;
    zip.Open(folder / L"held.zip");
    bool given = false;
    std::uint64_t peak = 0;
    {
        Granite::CZipPipeline pipeline(
            zip, &pool,
            [&](CSource& next) {
                if (std::exchange(given, true))
                    return false;
                next = source;
                return true;
            },
            [&, held = false]() mutable {
                // Held up once, until the workers hold nothing more.
                if (std::exchange(held, true))
                    return;
                std::uint64_t last = 0;
                for (int still = 0, i = 0; still < 30 && i < 2000; ++i) {
                    const std::uint64_t now = pool.Held();
                    still = now == last ? still + 1 : 0;
                    last = now;
                    peak = std::max(peak, now);
                    if (peak > 2 * Granite::CZipPipeline::kMemoryBudget)
                        break;
                    ::Sleep(10);
                }
            });
        pipeline.AddNext();
    }
    zip.Close();
    EXPECT_GT(peak, 0u) << "the writer was never held up";
    EXPECT_LE(peak, Granite::CZipPipeline::kMemoryBudget +
                        (pool.Workers() + 2) * Granite::CBlockDeflater::ReserveFor(Granite::CBlockDeflater::kBlockSize));
    EXPECT_EQ(pool.Held(), 0u);
}

// A file read ahead to its end is closed then, not held until the writer's
// turn (it is open for reading alone): the program that writes it may open
// it again meanwhile, as it may once the writer alone has read it. Its
// input (the mask's buffers) goes then too.
TEST(ZipPipeline, AFileReadAheadIsLetGoOnceRead)
{
    Testing::CTestFolder folder;
    folder.WriteBytes(L"first.log", "first");
    folder.WriteBytes(L"second.log", "second");
    std::atomic<bool> go{false};
    std::atomic<bool> secondRead{false};
    std::atomic<bool> secondGone{false};
    // The file as it is; `gate` at its first read, `done` once all is read,
    // `gone` once the input is destroyed.
    class CWatched : public Granite::CFileInput {
    public:
        CWatched(Bas::CFile& file, std::atomic<bool>* gate, std::atomic<bool>* done, std::atomic<bool>* gone)
            : CFileInput(file), m_gate(gate), m_done(done), m_gone(gone)
        {
        }
        ~CWatched() override
        {
            if (m_gone != nullptr)
                *m_gone = true;
        }
        std::size_t Read(void* buffer, std::size_t size) override
        {
            for (int i = 0; m_gate != nullptr && !*m_gate && i < 20000; ++i)
                ::Sleep(1);
            const std::size_t read = CFileInput::Read(buffer, size);
            if (m_done != nullptr && (m_read += read) >= SourceLength())
                *m_done = true;
            return read;
        }

    private:
        std::atomic<bool>* m_gate;
        std::atomic<bool>* m_done;
        std::atomic<bool>* m_gone;
        std::uint64_t m_read = 0;
    };
    std::vector<CSource> sources(2);
    for (std::size_t i = 0; i < 2; ++i) {
        sources[i].path = folder / (i == 0 ? L"first.log" : L"second.log");
        sources[i].name = i == 0 ? L"first.log" : L"second.log";
        sources[i].input = [&, i](Bas::CFile& file, bool) {
            return i == 0 ? std::make_unique<CWatched>(file, &go, nullptr, nullptr)
                          : std::make_unique<CWatched>(file, nullptr, &secondRead, &secondGone);
        };
    }
    Bas::CWorkerPool pool(2);
    Granite::CZipCompressor zip;
    zip.Open(folder / L"open.zip");
    std::size_t next = 0;
    bool writable = false;
    bool goneAhead = false;
    {
        Granite::CZipPipeline pipeline(
            zip, &pool,
            [&](CSource& source) {
                if (next == sources.size())
                    return false;
                source = sources[next++];
                return true;
            },
            // The writer waits for the first file, while the second is read.
            [&] {
                if (go)
                    return;
                for (int i = 0; !secondRead && i < 2000; ++i)
                    ::Sleep(10);
                for (int i = 0; secondRead && !writable && i < 500; ++i) {
                    Bas::CFile writer;
                    writable = writer.TryOpen(folder / L"second.log", Bas::CFile::OpenWrite | Bas::CFile::ShareRead |
                                                                           Bas::CFile::ShareWrite);
                    ::Sleep(10);
                }
                goneAhead = secondGone;
                go = true;
            });
        pipeline.AddNext();
        pipeline.AddNext();
    }
    zip.Close();
    EXPECT_TRUE(secondRead);
    EXPECT_TRUE(writable) << "the second file stayed open until the writer's turn";
    EXPECT_TRUE(goneAhead) << "the second input stayed until the writer's turn";
}

// An input that finds things as the privacy mask does: at the writer's turn
// at once, ahead of it only as what it met, its data void then, so that the
// writer reads it again.
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
