#include "ExtendedMapi.h"

#include "File.h"
#include "MapiLibrary.h"
#include "MessageHandlers.h"
#include "NativeFileSystem.h"
#include "TextTools.h"

#include <mapicode.h>
#include <mapidefs.h>
#include <mapitags.h>
#include <ole2.h>

#include <cstddef>
#include <cstring>

namespace Granite {

namespace {

using InitializeFn = HRESULT(WINAPI*)(LPVOID);
using UninitializeFn = void(WINAPI*)();
using LogonExFn = HRESULT(WINAPI*)(ULONG_PTR, LPWSTR, LPWSTR, ULONG, LPMAPISESSION*);
using AllocateBufferFn = SCODE(WINAPI*)(ULONG, LPVOID*);
using FreeBufferFn = ULONG(WINAPI*)(LPVOID);
using GetOnePropFn = HRESULT(WINAPI*)(LPMAPIPROP, ULONG, LPSPropValue*);
using SetOnePropFn = HRESULT(WINAPI*)(LPMAPIPROP, LPSPropValue);
using QueryAllRowsFn = HRESULT(WINAPI*)(LPMAPITABLE, LPSPropTagArray, LPSRestriction, LPSSortOrderSet, LONG, LPSRowSet*);
using FreeRowsFn = void(WINAPI*)(LPSRowSet);
using FreeAddressListFn = void(WINAPI*)(LPADRLIST);

CMapiFunction<InitializeFn> g_initialize("MAPIInitialize", "MAPIInitialize@4");
CMapiFunction<UninitializeFn> g_uninitialize("MAPIUninitialize", "MAPIUninitialize@0");
CMapiFunction<LogonExFn> g_logonEx("MAPILogonEx", "MAPILogonEx@20");
CMapiFunction<AllocateBufferFn> g_allocateBuffer("MAPIAllocateBuffer", "MAPIAllocateBuffer@8");
CMapiFunction<FreeBufferFn> g_freeBuffer("MAPIFreeBuffer", "MAPIFreeBuffer@4");
CMapiFunction<GetOnePropFn> g_getOneProp("HrGetOneProp", "HrGetOneProp@12");
CMapiFunction<SetOnePropFn> g_setOneProp("HrSetOneProp", "HrSetOneProp@8");
CMapiFunction<QueryAllRowsFn> g_queryAllRows("HrQueryAllRows", "HrQueryAllRows@24");
CMapiFunction<FreeRowsFn> g_freeRows("FreeProws", "FreeProws@4");
CMapiFunction<FreeAddressListFn> g_freeAddressList("FreePadrlist", "FreePadrlist@4");

template <class Fn>
Fn Required(CMapiFunction<Fn>& function)
{
    const Fn found = function.Get();
    if (found == nullptr)
        Bas::ThrowComError(E_FAIL);
    return found;
}

// OleInitialize then MAPIInitialize; undone in the reverse order.
class CMapi {
public:
    CMapi()
    {
        const HRESULT ole = ::OleInitialize(nullptr);
        m_ole = SUCCEEDED(ole);
        try {
            CheckMapi(CMapiFunctions::Initialize());
        } catch (Bas::CException*) {
            if (m_ole)
                ::OleUninitialize();
            throw;
        }
    }
    ~CMapi()
    {
        CMapiFunctions::Uninitialize();
        if (m_ole)
            ::OleUninitialize();
    }
    CMapi(const CMapi&) = delete;
    CMapi& operator=(const CMapi&) = delete;

private:
    bool m_ole = false;
};

// Rows of a MAPI table, freed with FreeProws.
class CMapiRows {
public:
    CMapiRows() = default;
    ~CMapiRows() { CMapiFunctions::FreeRows(m_rows); }
    CMapiRows(const CMapiRows&) = delete;
    CMapiRows& operator=(const CMapiRows&) = delete;
    LPSRowSet* Receive() noexcept { return &m_rows; }
    ULONG Count() const noexcept { return m_rows == nullptr ? 0 : m_rows->cRows; }
    const SRow& Row(ULONG index) const noexcept { return m_rows->aRow[index]; }

private:
    LPSRowSet m_rows = nullptr;
};

// The value of a column of the row; none when it is of another tag (an
// error value).
const SPropValue* Column(const SRow& row, ULONG index, ULONG tag)
{
    return index < row.cValues && row.lpProps[index].ulPropTag == tag ? &row.lpProps[index] : nullptr;
}

struct CTags2 {
    ULONG cValues;
    ULONG aulPropTag[2];
};

struct CTags5 {
    ULONG cValues;
    ULONG aulPropTag[5];
};

void QueryStores(IMAPISession& session, ULONG firstColumn, CMapiRows& rows)
{
    CMapiObject<IMAPITable> table;
    CheckMapi(session.GetMsgStoresTable(0, table.Receive()));
    CTags2 columns = {2, {firstColumn, PR_ENTRYID}};
    CheckMapi(table->SetColumns(reinterpret_cast<LPSPropTagArray>(&columns), 0));
    CheckMapi(CMapiFunctions::QueryAllRows(table.Get(), nullptr, rows.Receive()));
}

std::string Ansi(const std::wstring& text)
{
    return Bas::Narrow(text, CP_ACP);
}

void SetString(IMAPIProp& object, ULONG tag, const std::wstring& text)
{
    SPropValue value = {};
    value.ulPropTag = tag;
    value.Value.lpszW = const_cast<wchar_t*>(text.c_str());
    CheckMapi(CMapiFunctions::SetOneProp(&object, &value));
}

// The connection of one send: the logon, the default message store, its
// Outbox and the address book; released in this order from the last.
class CExtendedMapi {
public:
    CExtendedMapi();
    void Send(const CMailMessage& message);

private:
    void openDefaultStore();
    void openOutbox();
    void addAttachment(IMessage& message, const std::wstring& path);
    void showForm(IMessage& message);
    void flushQueues();

    CMapi m_mapi;
    CMapiObject<IMAPISession> m_session;
    CMapiObject<IMsgStore> m_store;
    CMapiObject<IMAPIFolder> m_outbox;
    CMapiObject<IAddrBook> m_addressBook;
};

CExtendedMapi::CExtendedMapi()
{
    CheckMapi(CMapiFunctions::LogonEx(MAPI_UNICODE | MAPI_USE_DEFAULT | MAPI_EXTENDED | MAPI_NEW_SESSION,
                                      m_session.Receive()));
    openDefaultStore();
    openOutbox();
    CheckMapi(m_session->OpenAddressBook(0, nullptr, AB_NO_DIALOG, m_addressBook.Receive()));
}

void CExtendedMapi::openDefaultStore()
{
    CMapiRows rows;
    QueryStores(*m_session.operator->(), PR_RESOURCE_FLAGS, rows);
    if (rows.Count() == 0)
        Bas::ThrowComError(E_UNEXPECTED);
    // The primary store and identity wins, the last such row; a default
    // store only while nothing is chosen.
    const SRow* chosen = nullptr;
    for (ULONG i = 0; i < rows.Count(); ++i) {
        const SPropValue* flags = Column(rows.Row(i), 0, PR_RESOURCE_FLAGS);
        const ULONG value = flags != nullptr ? flags->Value.l : 0;
        if ((value & (STATUS_PRIMARY_STORE | STATUS_PRIMARY_IDENTITY)) == (STATUS_PRIMARY_STORE | STATUS_PRIMARY_IDENTITY))
            chosen = &rows.Row(i);
        else if ((value & STATUS_DEFAULT_STORE) && chosen == nullptr)
            chosen = &rows.Row(i);
    }
    const SPropValue* entry = chosen != nullptr ? Column(*chosen, 1, PR_ENTRYID) : nullptr;
    if (entry == nullptr)
        Bas::ThrowComError(E_UNEXPECTED);
    CheckMapi(m_session->OpenMsgStore(0, entry->Value.bin.cb, reinterpret_cast<LPENTRYID>(entry->Value.bin.lpb),
                                      nullptr, MDB_WRITE, m_store.Receive()));
}

void CExtendedMapi::openOutbox()
{
    CMapiBuffer<SPropValue> outbox;
    CheckMapi(CMapiFunctions::GetOneProp(m_store.operator->(), PR_IPM_OUTBOX_ENTRYID, outbox.Receive()));
    if (outbox.Get() == nullptr)
        Bas::ThrowComError(E_POINTER);
    ULONG type = 0;
    CheckMapi(m_store->OpenEntry(outbox->Value.bin.cb, reinterpret_cast<LPENTRYID>(outbox->Value.bin.lpb), nullptr,
                                 MAPI_MODIFY, &type, reinterpret_cast<LPUNKNOWN*>(m_outbox.Receive())));
}

void CExtendedMapi::Send(const CMailMessage& mail)
{
    CMapiObject<IMessage> message;
    CheckMapi(m_outbox->CreateMessage(nullptr, 0, message.Receive()));
    SPropValue deleteAfterSubmit = {};
    deleteAfterSubmit.ulPropTag = PR_DELETE_AFTER_SUBMIT;
    deleteAfterSubmit.Value.b = TRUE;
    CheckMapi(CMapiFunctions::SetOneProp(message.operator->(), &deleteAfterSubmit));

    CMapiAddressList recipients;
    for (const CMailAddress& recipient : mail.recipients)
        recipients.Add(recipient);
    CheckMapi(m_addressBook->ResolveName(0, MAPI_UNICODE, nullptr, recipients.Get()));
    CheckMapi(message->ModifyRecipients(0, recipients.Get()));

    // Both always, also when empty.
    SetString(*message.operator->(), PR_SUBJECT_W, mail.subject);
    SetString(*message.operator->(), PR_BODY_W, mail.body);
    for (const CMailAttachment& attachment : mail.attachments)
        addAttachment(*message.operator->(), attachment.path);
    showForm(*message.operator->());
    flushQueues();
}

void CExtendedMapi::addAttachment(IMessage& message, const std::wstring& path)
{
    CMapiObject<IAttach> attach;
    ULONG number = 0;
    CheckMapi(message.CreateAttach(nullptr, 0, &number, attach.Receive()));
    SPropValue method = {};
    method.ulPropTag = PR_ATTACH_METHOD;
    method.Value.l = ATTACH_BY_VALUE;
    CheckMapi(CMapiFunctions::SetOneProp(attach.operator->(), &method));
    SetString(*attach.operator->(), PR_ATTACH_FILENAME_W, Bas::FileNameOf(path));

    Bas::CFile file(path, Bas::CFile::OpenRead | Bas::CFile::ShareRead);
    const std::uint64_t length = file.GetLength();
    BAS_ASSERT(length <= 0x7FFFFFFF);
    // Near 2 GiB a 32-bit process has no room for the copy.
    std::vector<BYTE> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        Bas::ThrowMemory();
    }
    if (file.Read(bytes.data(), bytes.size()) != bytes.size())
        Bas::ThrowFileError(Bas::EFileError::EndOfFile, path);
    SPropValue data = {};
    data.ulPropTag = PR_ATTACH_DATA_BIN;
    data.Value.bin.cb = static_cast<ULONG>(bytes.size());
    data.Value.bin.lpb = bytes.data();
    CheckMapi(CMapiFunctions::SetOneProp(attach.operator->(), &data));
    CheckMapi(attach->SaveChanges(KEEP_OPEN_READWRITE));
}

void CExtendedMapi::showForm(IMessage& message)
{
    ULONG token = 0;
    CheckMapi(m_session->PrepareForm(nullptr, &message, &token));
    CTags5 tags = {5, {PR_MESSAGE_FLAGS, PR_MESSAGE_CLASS_W, PR_ACCESS, PR_ENTRYID, PR_MSG_STATUS}};
    ULONG count = 0;
    CMapiBuffer<SPropValue> values;
    CheckMapi(message.GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, values.Receive()));
    auto number = [&](ULONG index, ULONG tag) -> ULONG {
        return index < count && values.Get() != nullptr && values.Get()[index].ulPropTag == tag ? values.Get()[index].Value.l
                                                                                               : 0;
    };
    std::string messageClass;
    if (count > 1 && values.Get() != nullptr && values.Get()[1].ulPropTag == PR_MESSAGE_CLASS_W)
        messageClass = Ansi(values.Get()[1].Value.lpszW);
    CheckMapi(m_session->ShowForm(0, m_store.Get(), m_outbox.Get(), nullptr, token, nullptr, MAPI_POST_MESSAGE,
                                  number(4, PR_MSG_STATUS), number(0, PR_MESSAGE_FLAGS), number(2, PR_ACCESS),
                                  messageClass.data()));
}

void CExtendedMapi::flushQueues()
{
    CMapiRows rows;
    QueryStores(*m_session.operator->(), PR_RESOURCE_TYPE, rows);
    for (ULONG i = 0; i < rows.Count(); ++i) {
        const SPropValue* type = Column(rows.Row(i), 0, PR_RESOURCE_TYPE);
        const SPropValue* entry = Column(rows.Row(i), 1, PR_ENTRYID);
        if (type == nullptr || entry == nullptr || static_cast<ULONG>(type->Value.l) != MAPI_SPOOLER)
            continue;
        ULONG objectType = 0;
        CMapiObject<IMAPIStatus> spooler;
        CheckMapi(m_session->OpenEntry(entry->Value.bin.cb, reinterpret_cast<LPENTRYID>(entry->Value.bin.lpb),
                                       nullptr, MAPI_MODIFY, &objectType, reinterpret_cast<LPUNKNOWN*>(spooler.Receive())));
        CheckMapi(spooler->FlushQueues(0, 0, nullptr, FLUSH_UPLOAD | FLUSH_FORCE | FLUSH_NO_UI));
    }
}

} // namespace

HRESULT CMapiFunctions::Initialize()
{
    const auto function = g_initialize.Get();
    return function != nullptr ? function(nullptr) : E_FAIL;
}

void CMapiFunctions::Uninitialize()
{
    if (const auto function = g_uninitialize.Get())
        function();
}

HRESULT CMapiFunctions::LogonEx(ULONG flags, LPMAPISESSION* session)
{
    const auto function = g_logonEx.Get();
    return function != nullptr ? function(0, nullptr, nullptr, flags, session) : E_FAIL;
}

void* CMapiFunctions::AllocateBuffer(ULONG size)
{
    void* buffer = nullptr;
    CheckMapi(Required(g_allocateBuffer)(size, &buffer));
    if (buffer == nullptr)
        Bas::ThrowMemory();
    return buffer;
}

void CMapiFunctions::FreeBuffer(void* buffer)
{
    if (const auto function = g_freeBuffer.Get())
        function(buffer);
}

HRESULT CMapiFunctions::GetOneProp(LPMAPIPROP object, ULONG tag, LPSPropValue* value)
{
    const auto function = g_getOneProp.Get();
    return function != nullptr ? function(object, tag, value) : E_FAIL;
}

HRESULT CMapiFunctions::SetOneProp(LPMAPIPROP object, LPSPropValue value)
{
    const auto function = g_setOneProp.Get();
    return function != nullptr ? function(object, value) : E_FAIL;
}

HRESULT CMapiFunctions::QueryAllRows(LPMAPITABLE table, LPSPropTagArray columns, LPSRowSet* rows)
{
    const auto function = g_queryAllRows.Get();
    return function != nullptr ? function(table, columns, nullptr, nullptr, 0, rows) : E_FAIL;
}

void CMapiFunctions::FreeRows(LPSRowSet rows)
{
    if (rows == nullptr)
        return;
    if (const auto function = g_freeRows.Get())
        function(rows);
}

void CMapiFunctions::FreeAddressList(LPADRLIST list)
{
    if (list == nullptr)
        return;
    if (const auto function = g_freeAddressList.Get())
        function(list);
}

void CheckMapi(HRESULT result)
{
    if (result == E_OUTOFMEMORY)
        Bas::ThrowMemory();
    if (FAILED(result))
        Bas::ThrowComError(result);
}

namespace {

constexpr ULONG kFirstCapacity = 8;

std::size_t ListSize(ULONG capacity)
{
    return offsetof(ADRLIST, aEntries) + capacity * sizeof(ADRENTRY);
}

} // namespace

CMapiAddressList::CMapiAddressList()
{
    m_list = static_cast<LPADRLIST>(CMapiFunctions::AllocateBuffer(static_cast<ULONG>(ListSize(kFirstCapacity))));
    std::memset(m_list, 0, ListSize(kFirstCapacity));
    m_capacity = kFirstCapacity;
}

CMapiAddressList::~CMapiAddressList()
{
    CMapiFunctions::FreeAddressList(m_list);
}

std::wstring CMapiAddressList::ResolutionName(const CMailAddress& recipient)
{
    return recipient.address.empty() ? recipient.name : recipient.name + L"[" + recipient.address + L"]";
}

void CMapiAddressList::Add(const CMailAddress& recipient)
{
    if (m_list->cEntries == m_capacity) {
        const ULONG capacity = m_capacity * 2;
        auto* larger = static_cast<LPADRLIST>(CMapiFunctions::AllocateBuffer(static_cast<ULONG>(ListSize(capacity))));
        std::memset(larger, 0, ListSize(capacity));
        std::memcpy(larger, m_list, ListSize(m_capacity));
        CMapiFunctions::FreeBuffer(m_list);
        m_list = larger;
        m_capacity = capacity;
    }
    m_names.push_back(ResolutionName(recipient));
    auto* values = static_cast<LPSPropValue>(CMapiFunctions::AllocateBuffer(2 * sizeof(SPropValue)));
    std::memset(values, 0, 2 * sizeof(SPropValue));
    values[0].ulPropTag = PR_DISPLAY_NAME_W;
    values[0].Value.lpszW = m_names.back().data();
    values[1].ulPropTag = PR_RECIPIENT_TYPE;
    values[1].Value.l = MAPI_TO;
    ADRENTRY& entry = m_list->aEntries[m_list->cEntries++];
    entry.cValues = 2;
    entry.rgPropVals = values;
}

bool CanUseExtendedMapi()
{
    try {
        CMapi mapi;
        CMapiObject<IMAPISession> session;
        const HRESULT result = CMapiFunctions::LogonEx(MAPI_EXTENDED | MAPI_NO_MAIL, session.Receive());
        // The logon is released, without a logoff.
        return SUCCEEDED(result) && session.Get() != nullptr;
    } catch (Bas::CException* raw) {
        Bas::Own(raw);
        return false;
    }
}

void SendByExtendedMapi(const CMailMessage& message)
{
    try {
        CExtendedMapi mapi;
        mapi.Send(message);
    } catch (Bas::CCOMException* raw) {
        auto error = Bas::Own(raw);
        // The user closed the form without sending.
        if (error->Code() == MAPI_E_USER_CANCEL)
            return;
        Bas::ReportException(*error);
    }
}

} // namespace Granite
