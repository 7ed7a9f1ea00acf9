#include "Errors.h"

#include "BasaltMessages.h"
#include "ErrorReporting.h"
#include "Handles.h"
#include "Lock.h"
#include "MessageHandlers.h"

#include <oleauto.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>

namespace Bas {

namespace {

// FormatMessageW text for a system code; false when the system has none.
bool SystemText(DWORD code, DWORD flags, std::wstring& text)
{
    wchar_t* buffer = nullptr;
    // The system texts are fetched without arguments, so inserts such as %1
    // in them must stay unexpanded rather than be read from a missing array.
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                              FORMAT_MESSAGE_IGNORE_INSERTS | flags,
                                          nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    CLocalMemory owner(buffer);
    if (length == 0 || buffer == nullptr)
        return false;
    text.assign(buffer, length);
    return true;
}

const CMessageName& FileErrorMessage(EFileError kind)
{
    switch (kind) {
    case EFileError::NotFound: return ERR_FILE_NOT_FOUND;
    case EFileError::BadPath: return ERR_FILE_BAD_PATH;
    case EFileError::TooManyOpenFiles: return ERR_FILE_TOO_MANY_OPEN_FILES;
    case EFileError::AccessDenied: return ERR_FILE_ACCESS_DENIED;
    case EFileError::InvalidFile: return ERR_FILE_INVALID_FILE;
    case EFileError::RemoveCurrentDir: return ERR_FILE_REMOVE_CURRENT_DIR;
    case EFileError::DirectoryFull: return ERR_FILE_DIRECTORY_FULL;
    case EFileError::BadSeek: return ERR_FILE_BAD_SEEK;
    case EFileError::HardIO: return ERR_FILE_HARD_IO;
    case EFileError::SharingViolation: return ERR_FILE_SHARING_VIOLATION;
    case EFileError::LockViolation: return ERR_FILE_LOCK_VIOLATION;
    case EFileError::DiskFull: return ERR_FILE_DISK_FULL;
    case EFileError::EndOfFile: return ERR_FILE_END_OF_FILE;
    case EFileError::AlreadyExists: return ERR_FILE_ALREADY_EXISTS;
    case EFileError::DirNotEmpty: return ERR_DIR_NOT_EMPTY;
    case EFileError::Generic: break;
    }
    return ERR_FILE_GENERIC;
}

// The pool of CMemoryException objects.
constexpr int kMemoryPoolSlots = 64;
struct alignas(std::max_align_t) CMemorySlot {
    unsigned char bytes[sizeof(void*) * 4];
};
static_assert(sizeof(CMemoryException) <= sizeof(CMemorySlot));
constinit CLock g_memoryPoolLock;
constinit CMemorySlot g_memoryPool[kMemoryPoolSlots];
constinit bool g_memorySlotUsed[kMemoryPoolSlots] = {};

std::atomic<int> g_internalErrorCount{0};

} // namespace

void CException::Report()
{
    CReportingScope reporting;
    ShowException(*this);
}

CCheckException::CCheckException(const CMessageName& message, std::size_t count, std::wstring p0, std::wstring p1,
                                 std::wstring p2)
    : m_message(&message), m_count(count), m_params{std::move(p0), std::move(p1), std::move(p2)}
{
}

std::wstring CCheckException::GetMessageText() const
{
    return Format(*m_message, m_params, m_count);
}

std::wstring CMemoryException::GetMessageText() const
{
    return L"Not enough memory!";
}

void* CMemoryException::operator new(std::size_t size)
{
    BAS_ASSERT(size <= sizeof(CMemorySlot));
    {
        std::lock_guard guard(g_memoryPoolLock);
        for (int i = 0; i < kMemoryPoolSlots; ++i) {
            if (!g_memorySlotUsed[i]) {
                g_memorySlotUsed[i] = true;
                return &g_memoryPool[i];
            }
        }
    }
    if (!MessageBoxesSuppressed())
        ::MessageBoxW(nullptr, L"Not enough memory!", L"Basalt", MB_SYSTEMMODAL | MB_ICONERROR);
    std::abort();
}

void CMemoryException::operator delete(void* block) noexcept
{
    std::lock_guard guard(g_memoryPoolLock);
    for (int i = 0; i < kMemoryPoolSlots; ++i)
        if (block == &g_memoryPool[i])
            g_memorySlotUsed[i] = false;
}

std::wstring CLastErrorException::GetMessageText() const
{
    return GetLastErrorText(m_code);
}

CCOMException::CCOMException(HRESULT code, IErrorInfo* info) : m_code(code), m_info(info)
{
    if (m_info != nullptr)
        m_info->AddRef();
}

CCOMException::~CCOMException()
{
    if (m_info != nullptr)
        m_info->Release();
}

std::wstring CCOMException::GetMessageText() const
{
    return GetComErrorText(m_code, m_info);
}

EFileError FileErrorFromCode(DWORD code)
{
    BAS_PRESUME(code != 0);
    switch (code) {
    case 2: case 6: case 18: case 107:
        return EFileError::NotFound;
    case 3: case 15: case 17: case 34: case 52: case 53: case 55: case 67: case 70: case 85: case 111:
    case 123: case 124: case 125: case 144: case 154: case 161: case 206: case 208: case 267:
        return EFileError::BadPath;
    case 4: case 36: case 68: case 113:
        return EFileError::TooManyOpenFiles;
    case 5: case 12: case 19: case 29: case 54: case 58: case 64: case 65: case 71: case 80: case 82:
    case 86: case 170: case 999:
        return EFileError::AccessDenied;
    case 11: case 26: case 60: case 66: case 114: case 182: case 191: case 193:
        return EFileError::InvalidFile;
    case 16:
        return EFileError::RemoveCurrentDir;
    case 62:
        return EFileError::DirectoryFull;
    case 24: case 25: case 27: case 30: case 131: case 132:
        return EFileError::BadSeek;
    case 20: case 21: case 22: case 23: case 57: case 59: case 88: case 117: case 995: case 996: case 997:
        return EFileError::HardIO;
    case 32:
        return EFileError::SharingViolation;
    case 33: case 108: case 167:
        return EFileError::LockViolation;
    case 39: case 112:
        return EFileError::DiskFull;
    case 38:
        return EFileError::EndOfFile;
    case 183:
        return EFileError::AlreadyExists;
    case 145:
        return EFileError::DirNotEmpty;
    default:
        return EFileError::Generic;
    }
}

CFileException::CFileException(DWORD code, EFileError kind, std::wstring fileName)
    : m_code(code), m_kind(kind), m_fileName(std::move(fileName))
{
}

const CMessageName& CFileException::Message() const noexcept
{
    return FileErrorMessage(m_kind);
}

std::wstring CFileException::GetMessageText() const
{
    if (m_kind == EFileError::Generic)
        return Format(ERR_FILE_GENERIC, m_fileName, GetLastErrorText(m_code));
    return Format(FileErrorMessage(m_kind), m_fileName);
}

CInternalError::CInternalError(EInternalError kind, std::wstring file, int line, DWORD code)
    : m_kind(kind), m_file(std::move(file)), m_line(line), m_code(code)
{
}

std::wstring CInternalError::GetMessageText() const
{
    const std::wstring line = std::to_wstring(m_line);
    if (m_kind == EInternalError::AssertionWithCode || m_kind == EInternalError::PresumptionWithCode)
        return Format(MSG_INTERNAL_ERROR_WITH_CODE, m_file, line, HexText(m_code));
    return Format(MSG_INTERNAL_ERROR, m_file, line);
}

void CInternalError::Report()
{
    // From the third internal error of the process on, the user may end it.
    CReportingScope reporting;
    const int number = ++g_internalErrorCount;
    UINT style = MB_ICONHAND | MB_SYSTEMMODAL;
    if (number >= 3)
        style |= MB_OKCANCEL;
    if (ShowMessage(GetMessageText(), style) == IDCANCEL && number >= 3)
        std::abort();
}

std::wstring GetLastErrorText(DWORD code)
{
    if (code == 0)
        return Format(ERR_UNKNOWN_LAST_ERROR_TEXT, L"0");
    std::wstring text;
    if (SystemText(code, FORMAT_MESSAGE_ARGUMENT_ARRAY, text))
        return text;
    return Format(ERR_UNKNOWN_LAST_ERROR_TEXT, HexText(code));
}

std::wstring GetComErrorText(HRESULT code, IErrorInfo* info)
{
    if (info != nullptr) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description)) && description != nullptr) {
            std::wstring text(description, ::SysStringLen(description));
            ::SysFreeString(description);
            if (!text.empty())
                return text;
        }
    }
    DWORD systemCode = static_cast<DWORD>(code);
    if ((systemCode & 0x1FFF0000u) == 0x70000u)
        systemCode &= 0xFFFFu;
    std::wstring text;
    if (SystemText(systemCode, 0, text)) {
        if (!text.empty() && text.back() == L'\n')
            text.pop_back();
        if (!text.empty() && text.back() == L'\r')
            text.pop_back();
        return text;
    }
    return Format(ERR_UNKNOWN_COM_ERROR, HexText(static_cast<unsigned long>(code)));
}

std::wstring HexText(unsigned long value)
{
    wchar_t buffer[16];
    std::swprintf(buffer, 16, L"%lX", value);
    return buffer;
}

void ThrowCheck(const CMessageName& message)
{
    throw new CCheckException(message);
}

void ThrowCheck(const CMessageName& message, std::wstring p0)
{
    throw new CCheckException(message, std::move(p0));
}

void ThrowCheck(const CMessageName& message, std::wstring p0, std::wstring p1)
{
    throw new CCheckException(message, std::move(p0), std::move(p1));
}

void ThrowCheck(const CMessageName& message, std::wstring p0, std::wstring p1, std::wstring p2)
{
    throw new CCheckException(message, std::move(p0), std::move(p1), std::move(p2));
}

void ThrowLastError()
{
    ThrowLastError(::GetLastError());
}

void ThrowLastError(DWORD code)
{
    throw new CLastErrorException(code);
}

void ThrowFileError(DWORD code, const std::wstring& fileName)
{
    throw new CFileException(code, FileErrorFromCode(code), fileName);
}

void ThrowFileError(EFileError kind, const std::wstring& fileName)
{
    throw new CFileException(0, kind, fileName);
}

void ThrowComError(HRESULT code, IErrorInfo* info)
{
    throw new CCOMException(code, info);
}

void ThrowMemory()
{
    throw new CMemoryException;
}

void ThrowUser()
{
    throw new CUserException;
}


} // namespace Bas
