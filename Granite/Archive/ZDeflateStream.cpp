#include "ZDeflateStream.h"

#include "Errors.h"
#include "ArchiveMessages.h"

namespace Granite {

CZDeflateStream::CZDeflateStream()
{
    if (deflateInit2(&m_stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        Bas::ThrowCheck(ERR_ZLIB_INIT_FAILED);
}

CZDeflateStream::~CZDeflateStream()
{
    deflateEnd(&m_stream);
}

void CZDeflateStream::Reset(int level)
{
    BAS_PRESUME(deflateReset(&m_stream) == Z_OK);
    // Before any input a new level takes effect at once.
    if (level != m_level)
        BAS_PRESUME(deflateParams(&m_stream, level, Z_DEFAULT_STRATEGY) == Z_OK);
    m_level = level;
}

void CZDeflateStream::SetInput(const unsigned char* data, unsigned size) noexcept
{
    m_stream.next_in = const_cast<Bytef*>(data);
    m_stream.avail_in = size;
}

void CZDeflateStream::SetDictionary(const unsigned char* data, unsigned size)
{
    BAS_PRESUME(deflateSetDictionary(&m_stream, data, size) == Z_OK);
}

unsigned CZDeflateStream::Deflate(unsigned char* space, unsigned size, EFlush flush)
{
    m_stream.next_out = space;
    m_stream.avail_out = size;
    const int result = deflate(&m_stream, flush == Finish ? Z_FINISH : flush == SyncFlush ? Z_SYNC_FLUSH : Z_NO_FLUSH);
    BAS_PRESUME(result != Z_STREAM_ERROR);
    return size - m_stream.avail_out;
}

} // namespace Granite
