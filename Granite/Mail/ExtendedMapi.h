// Sending through Extended MAPI: the message is made in the Outbox of the
// default message store and shown in the mail program's form, where the
// user sends or cancels it.
#pragma once

#include "Errors.h"
#include "MailMessage.h"
#include "WinApi.h"

#include <mapix.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace Granite {

// The MAPI functions, from the library that GetMapiModule finds. A missing
// one counts as the COM error E_FAIL.
struct CMapiFunctions {
    static HRESULT Initialize();
    static void Uninitialize();
    static HRESULT LogonEx(ULONG flags, LPMAPISESSION* session);
    static void* AllocateBuffer(ULONG size);
    static void FreeBuffer(void* buffer);
    static HRESULT GetOneProp(LPMAPIPROP object, ULONG tag, LPSPropValue* value);
    static HRESULT SetOneProp(LPMAPIPROP object, LPSPropValue value);
    static HRESULT QueryAllRows(LPMAPITABLE table, LPSPropTagArray columns, LPSRowSet* rows);
    static void FreeRows(LPSRowSet rows);
    static void FreeAddressList(LPADRLIST list);
};

// The result convention of every Extended MAPI call: E_OUTOFMEMORY raises
// the out-of-memory error, any other failure a CCOMException.
void CheckMapi(HRESULT result);

// The owner of one MAPI interface, released when destroyed.
template <class Interface>
class CMapiObject {
public:
    CMapiObject() = default;
    explicit CMapiObject(Interface* object) noexcept : m_object(object) {}
    CMapiObject(CMapiObject&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    CMapiObject& operator=(CMapiObject&& other) noexcept
    {
        if (this != &other)
            Reset(std::exchange(other.m_object, nullptr));
        return *this;
    }
    CMapiObject(const CMapiObject&) = delete;
    CMapiObject& operator=(const CMapiObject&) = delete;
    ~CMapiObject() { Reset(); }

    Interface* Get() const noexcept { return m_object; }
    // A missing interface where one is required is the COM error E_POINTER.
    Interface* operator->() const
    {
        if (m_object == nullptr)
            Bas::ThrowComError(E_POINTER);
        return m_object;
    }
    // The slot a call fills; whatever it held is released first.
    Interface** Receive() noexcept
    {
        Reset();
        return &m_object;
    }
    void Reset(Interface* object = nullptr) noexcept
    {
        if (Interface* old = std::exchange(m_object, object))
            old->Release();
    }

private:
    Interface* m_object = nullptr;
};

// A buffer the MAPI library allocated, freed with MAPIFreeBuffer.
template <class Data>
class CMapiBuffer {
public:
    CMapiBuffer() = default;
    CMapiBuffer(const CMapiBuffer&) = delete;
    CMapiBuffer& operator=(const CMapiBuffer&) = delete;
    ~CMapiBuffer() { Reset(); }
    Data* Get() const noexcept { return m_data; }
    Data* operator->() const noexcept { return m_data; }
    Data** Receive() noexcept
    {
        Reset();
        return &m_data;
    }
    void Reset() noexcept
    {
        if (m_data != nullptr)
            CMapiFunctions::FreeBuffer(std::exchange(m_data, nullptr));
    }

private:
    Data* m_data = nullptr;
};

// The recipients as an ADRLIST of MAPIAllocateBuffer memory: capacity 8,
// doubled when full; each entry holds PR_DISPLAY_NAME_W ("name[address]")
// and PR_RECIPIENT_TYPE (MAPI_TO). Released with FreePadrlist.
class CMapiAddressList {
public:
    CMapiAddressList();
    ~CMapiAddressList();
    CMapiAddressList(const CMapiAddressList&) = delete;
    CMapiAddressList& operator=(const CMapiAddressList&) = delete;

    void Add(const CMailAddress& recipient);
    LPADRLIST Get() const noexcept { return m_list; }
    ULONG Capacity() const noexcept { return m_capacity; }

    // The display name resolution is given: the name, then "[address]".
    static std::wstring ResolutionName(const CMailAddress& recipient);

private:
    LPADRLIST m_list = nullptr;
    ULONG m_capacity = 0;
    std::deque<std::wstring> m_names; // what the entries point to (never moved)
};

// True when a MAPI logon without any user interface succeeds; any error on
// the way answers false.
bool CanUseExtendedMapi();

// Sends through Extended MAPI. The user's cancel is silent and any other
// COM error is reported through the current message handler; other errors
// (memory, files, internal), and the error of a report that cannot be
// written, go on to the caller.
void SendByExtendedMapi(const CMailMessage& message);

} // namespace Granite
