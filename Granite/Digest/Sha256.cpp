#include "Sha256.h"

#include "Errors.h"
#include "File.h"
#include "Handles.h"
#include "MemoryBuffer.h"

#include <winternl.h>

namespace Granite {

namespace {

void Check(NTSTATUS status)
{
    if (status < 0)
        Bas::ThrowLastError(::RtlNtStatusToDosError(status));
}

} // namespace

std::wstring FileSha256Text(const std::wstring& path, const Bas::CProgress& progress)
{
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    Check(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    const Bas::CAlgorithmHandle algorithmOwner(algorithm);
    BCRYPT_HASH_HANDLE hash = nullptr;
    Check(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    const Bas::CHashHandle hashOwner(hash);

    Bas::CFile file(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    CMemoryBuffer buffer(0x40000);
    buffer.SetCommittedSize(buffer.Capacity());
    for (;;) {
        const std::size_t read = file.Read(buffer.Data(), buffer.Capacity());
        if (read == 0)
            break;
        Check(::BCryptHashData(hash, buffer.Data(), static_cast<ULONG>(read), 0));
        if (progress)
            progress();
    }
    UCHAR digest[32];
    Check(::BCryptFinishHash(hash, digest, sizeof digest, 0));
    std::wstring text;
    for (UCHAR byte : digest) {
        text += L"0123456789abcdef"[byte >> 4];
        text += L"0123456789abcdef"[byte & 0xF];
    }
    return text;
}

} // namespace Granite
