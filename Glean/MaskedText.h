// Collected files read through the privacy mask, as the bytes that go into
// the archive. Text keeps its encoding and its lines: each line is masked,
// and a line with nothing to mask comes out byte for byte, so a file with
// nothing to mask goes in unchanged. A binary file goes in as it is.
#pragma once

#include "File.h"
#include "PrivacyMask.h"
#include "ZipCompressor.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Glean {

class CMaskedReader : public Granite::IEntryInput {
public:
    enum EMode {
        // Gives stand-ins as it goes: the writer's own turn, in archive
        // order.
        Registering,
        // Gives none, ahead of the writer: once it meets what has no
        // stand-in yet, its data is void.
        Ahead,
    };
    enum EEncoding { Binary, Utf16, Utf16BigEndian, Utf8, Ansi };

    // `wideWithoutMark`: text with zero bytes is UTF-16 without its mark
    // (the installer logs, which the program itself reads so). The file is
    // read from where it stands up to the length it had at the start.
    // `detected`, when given, gets the encoding the file is taken for.
    CMaskedReader(Bas::CFile& file, CPrivacyMask& mask, EMode mode, bool wideWithoutMark,
                  std::atomic<int>* detected = nullptr);

    std::size_t Read(void* buffer, std::size_t size) override;
    std::uint64_t SourceLength() const override { return m_length; }
    bool SameLength() const override { return false; }
    bool Void() const override { return !m_novel.originals.empty(); }

    // What the file was taken for; Binary until the first read.
    EEncoding Encoding() const noexcept { return m_encoding; }

    // The encoding of a file from its first bytes (up to 64 KiB).
    static EEncoding Detect(std::string_view probe, bool wideWithoutMark);

private:
    // Reads the next block of the file and masks what of it is whole;
    // false once everything has been given.
    bool fill();
    void maskWhole(bool end);
    // The bytes [from, to) of the pending ones: whole lines, or a piece of
    // a long line that ends where nothing the mask finds can be cut.
    void maskPiece(std::size_t from, std::size_t to);
    void maskLines8(std::string_view bytes);
    // ASCII, or UTF-8 in a UTF-8 file: false, with nothing done, for other
    // bytes.
    bool maskUnicode8(std::string_view bytes);
    void maskAnsi(std::string_view line);
    void maskWide(std::string_view bytes);
    // UTF-16 text, and with `foreign` the text of other encodings among its
    // bytes.
    void maskWideText(std::string_view bytes, bool foreign);
    // Where a line too long to wait for may be cut, in pending bytes.
    std::size_t cutPoint() const;
    std::size_t safeCut() const;
    std::wstring filter(const std::wstring& text);

    Bas::CFile& m_file;
    CPrivacyMask& m_mask;
    EMode m_mode;
    bool m_wideWithoutMark;
    std::atomic<int>* m_detected;
    std::uint64_t m_length;
    std::uint64_t m_taken = 0;
    bool m_started = false;
    bool m_ended = false;
    bool m_failed = false;
    EEncoding m_encoding = Binary;
    std::string m_pending;
    std::string m_out;
    std::size_t m_given = 0;
    CPrivacyMask::CNovel m_novel;
};

} // namespace Glean
