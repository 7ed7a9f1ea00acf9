// The exception family. Errors are thrown as pointers to heap objects; every
// catch site takes ownership at once with Own(), so nothing leaks:
//     catch (Bas::CException* raw) { auto error = Bas::Own(raw); ... }
#pragma once

#include "Message.h"
#include "WinApi.h"

#include <exception>
#include <memory>
#include <string>

struct IErrorInfo;

namespace Bas {

class CException {
public:
    virtual ~CException() = default;
    // The full text for the user.
    virtual std::wstring GetMessageText() const = 0;
    // Shows the text through the current message handler.
    virtual void Report();
    // Throws this object as a pointer to its own class, so that a catch for
    // that class takes it after it was kept as a CException (Rethrow).
    [[noreturn]] virtual void Throw() = 0;
    // A copy of the error, so that one kept can be given more than once.
    virtual std::unique_ptr<CException> Clone() const = 0;

protected:
    CException() = default;
    CException(const CException&) = default;
};

using CExceptionPtr = std::unique_ptr<CException>;

// Throws a kept error again as what it is.
[[noreturn]] inline void Rethrow(CExceptionPtr error)
{
    error.release()->Throw();
    // Throw always throws; the compiler cannot see that through the call.
    std::terminate();
}

template <class Exception>
std::unique_ptr<Exception> Own(Exception* exception) noexcept
{
    return std::unique_ptr<Exception>(exception);
}

// The message is formatted with as many parameters as were given (up to
// three); the others read as empty.
class CCheckException : public CException {
public:
    [[noreturn]] void Throw() override { throw this; }
    std::unique_ptr<CException> Clone() const override { return std::make_unique<CCheckException>(*this); }
    explicit CCheckException(const CMessageName& message) : CCheckException(message, 0, {}, {}, {}) {}
    CCheckException(const CMessageName& message, std::wstring p0)
        : CCheckException(message, 1, std::move(p0), {}, {}) {}
    CCheckException(const CMessageName& message, std::wstring p0, std::wstring p1)
        : CCheckException(message, 2, std::move(p0), std::move(p1), {}) {}
    CCheckException(const CMessageName& message, std::wstring p0, std::wstring p1, std::wstring p2)
        : CCheckException(message, 3, std::move(p0), std::move(p1), std::move(p2)) {}
    std::wstring GetMessageText() const override;
    const CMessageName& Message() const noexcept { return *m_message; }
    const std::wstring& Parameter(int index) const { return m_params[index]; }

private:
    CCheckException(const CMessageName& message, std::size_t count, std::wstring p0, std::wstring p1,
                    std::wstring p2);

    const CMessageName* m_message;
    std::size_t m_count;
    std::wstring m_params[3];
};

// The error was already reported or cancelled by the user; never reported.
class CUserException : public CException {
public:
    [[noreturn]] void Throw() override { throw this; }
    std::unique_ptr<CException> Clone() const override { return std::make_unique<CUserException>(*this); }
    std::wstring GetMessageText() const override { return {}; }
    void Report() override {}
};

// Taken from a static pool, so that one can be thrown when the heap is
// exhausted.
class CMemoryException : public CException {
public:
    [[noreturn]] void Throw() override { throw this; }
    std::unique_ptr<CException> Clone() const override { return std::make_unique<CMemoryException>(*this); }
    std::wstring GetMessageText() const override;
    static void* operator new(std::size_t size);
    static void operator delete(void* block) noexcept;
};

class CLastErrorException : public CException {
public:
    [[noreturn]] void Throw() override { throw this; }
    std::unique_ptr<CException> Clone() const override { return std::make_unique<CLastErrorException>(*this); }
    explicit CLastErrorException(DWORD code) : m_code(code) {}
    std::wstring GetMessageText() const override;
    DWORD Code() const noexcept { return m_code; }

private:
    DWORD m_code;
};

class CCOMException : public CException {
public:
    [[noreturn]] void Throw() override { throw this; }
    std::unique_ptr<CException> Clone() const override { return std::make_unique<CCOMException>(m_code, m_info); }
    explicit CCOMException(HRESULT code, IErrorInfo* info = nullptr);
    ~CCOMException() override;
    CCOMException(const CCOMException&) = delete;
    CCOMException& operator=(const CCOMException&) = delete;
    std::wstring GetMessageText() const override;
    HRESULT Code() const noexcept { return m_code; }

private:
    HRESULT m_code;
    IErrorInfo* m_info;
};

enum class EFileError {
    Generic = 1,
    NotFound,
    BadPath,
    TooManyOpenFiles,
    AccessDenied,
    InvalidFile,
    RemoveCurrentDir,
    DirectoryFull,
    BadSeek,
    HardIO,
    SharingViolation,
    LockViolation,
    DiskFull,
    EndOfFile,
    AlreadyExists,
    DirNotEmpty,
};

// The file-error kind of a Windows error code (0 has none: internal error).
EFileError FileErrorFromCode(DWORD code);

class CFileException : public CException {
public:
    [[noreturn]] void Throw() override { throw this; }
    std::unique_ptr<CException> Clone() const override { return std::make_unique<CFileException>(*this); }
    CFileException(DWORD code, EFileError kind, std::wstring fileName);
    std::wstring GetMessageText() const override;
    // The message of the kind: ERR_FILE_GENERIC (the file's name and the
    // system's text) for Generic, one with the file's name for the others.
    const CMessageName& Message() const noexcept;
    DWORD Code() const noexcept { return m_code; }
    EFileError Kind() const noexcept { return m_kind; }
    const std::wstring& FileName() const noexcept { return m_fileName; }

private:
    DWORD m_code;
    EFileError m_kind;
    std::wstring m_fileName;
};

enum class EInternalError { Assertion, AssertionWithCode, Presumption, PresumptionWithCode };

class CInternalError : public CException {
public:
    [[noreturn]] void Throw() override { throw this; }
    std::unique_ptr<CException> Clone() const override { return std::make_unique<CInternalError>(*this); }
    CInternalError(EInternalError kind, std::wstring file, int line, DWORD code = 0);
    std::wstring GetMessageText() const override;
    void Report() override;
    EInternalError Kind() const noexcept { return m_kind; }

private:
    EInternalError m_kind;
    std::wstring m_file;
    int m_line;
    DWORD m_code;
};

// The system's text for a Windows error code.
std::wstring GetLastErrorText(DWORD code);
// The text of an HRESULT, from the error information when it has one.
std::wstring GetComErrorText(HRESULT code, IErrorInfo* info = nullptr);
// Upper-case hexadecimal digits without a prefix.
std::wstring HexText(unsigned long value);

[[noreturn]] void ThrowCheck(const CMessageName& message);
[[noreturn]] void ThrowCheck(const CMessageName& message, std::wstring p0);
[[noreturn]] void ThrowCheck(const CMessageName& message, std::wstring p0, std::wstring p1);
[[noreturn]] void ThrowCheck(const CMessageName& message, std::wstring p0, std::wstring p1, std::wstring p2);
[[noreturn]] void ThrowLastError();
[[noreturn]] void ThrowLastError(DWORD code);
[[noreturn]] void ThrowFileError(DWORD code, const std::wstring& fileName);
[[noreturn]] void ThrowFileError(EFileError kind, const std::wstring& fileName);
[[noreturn]] void ThrowComError(HRESULT code, IErrorInfo* info = nullptr);
[[noreturn]] void ThrowMemory();
[[noreturn]] void ThrowUser();

// Reports a failed check: throws CInternalError, or with throwing off (or
// inside a report) shows the text and returns.
void FailCheck(EInternalError kind, const char* expression, const char* function, const char* file,
                            int line, DWORD code = 0);

} // namespace Bas

#define BAS_ASSERT(condition)                                                                     \
    do {                                                                                          \
        if (!(condition))                                                                         \
            ::Bas::FailCheck(::Bas::EInternalError::Assertion, #condition, __func__, __FILE__, __LINE__); \
    } while (false)

#define BAS_PRESUME(condition)                                                                    \
    do {                                                                                          \
        if (!(condition))                                                                         \
            ::Bas::FailCheck(::Bas::EInternalError::Presumption, #condition, __func__, __FILE__, __LINE__); \
    } while (false)

// For Windows calls: the check fails with the call's GetLastError().
#define BAS_PRESUME_LAST_ERROR(condition)                                                         \
    do {                                                                                          \
        if (!(condition))                                                                         \
            ::Bas::FailCheck(::Bas::EInternalError::PresumptionWithCode, #condition, __func__, __FILE__, \
                             __LINE__, ::GetLastError());                                         \
    } while (false)
