// zlib's raw deflate at the highest level: level 9, window bits -15 (no
// zlib header, 32 KiB window), memory level 9, default strategy.
#pragma once

#include <zlib.h>

namespace Granite {

class CZDeflateStream {
public:
    // Throws ERR_ZLIB_INIT_FAILED when zlib cannot set up its state.
    CZDeflateStream();
    ~CZDeflateStream();
    CZDeflateStream(const CZDeflateStream&) = delete;
    CZDeflateStream& operator=(const CZDeflateStream&) = delete;

    // Back to the state of a new stream, keeping the memory, at the level
    // given (9 the strongest, 1 the quickest).
    void Reset(int level = kBestLevel);
    static constexpr int kBestLevel = 9;
    void SetInput(const unsigned char* data, unsigned size) noexcept;
    unsigned InputLeft() const noexcept { return m_stream.avail_in; }

    // The data the stream's first bytes may refer back to (at most 32 KiB),
    // before the first Deflate.
    void SetDictionary(const unsigned char* data, unsigned size);

    enum EFlush {
        NoFlush,
        // Ends what was given on a byte boundary (an empty stored block), so
        // that another stream's data can follow.
        SyncFlush,
        Finish,
    };
    // One deflate call into the space; returns the number of bytes produced.
    // Z_STREAM_ERROR is an internal error.
    unsigned Deflate(unsigned char* space, unsigned size, EFlush flush);

private:
    int m_level = kBestLevel;
    z_stream m_stream = {};
};

} // namespace Granite
