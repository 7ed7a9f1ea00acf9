// A stand-in for a mail system's MAPI library, for the tests only. The
// programs find it the way they find a real one (the default mail client's
// "DllPathEx"). It keeps one message store with an Outbox, an address book
// and a spooler, and records every call with its arguments and properties,
// one UTF-8 line each, into the file GLEAN_TEST_MAPI_LOG names; attachment
// data goes into files beside it. GLEAN_TEST_MAPI_MODE (a comma-separated
// list) makes it refuse the logon ("refuse-logon"), keep the form open for
// a while ("slow"), cancel it ("cancel") or fail the name resolution
// ("unresolved").
#include <windows.h>

#include <mapicode.h>
#include <mapidefs.h>
#include <mapitags.h>
#include <mapix.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace {

std::string Utf8(const std::wstring& text)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    return bytes;
}

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[4096] = {};
    return ::GetEnvironmentVariableW(name, value, 4096) ? value : L"";
}

// Modes are a comma-separated list.
bool Mode(const wchar_t* mode)
{
    return (L"," + Environment(L"GLEAN_TEST_MAPI_MODE") + L",").find(L"," + std::wstring(mode) + L",") !=
           std::wstring::npos;
}

void Log(const std::string& line)
{
    const std::wstring path = Environment(L"GLEAN_TEST_MAPI_LOG");
    if (path.empty())
        return;
    if (FILE* file = _wfopen(path.c_str(), L"ab")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

std::string Hex(ULONG value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
    return text;
}

std::string Entry(ULONG size, LPENTRYID entry)
{
    return entry == nullptr ? "null" : std::string(reinterpret_cast<const char*>(entry), size);
}

void* Allocate(std::size_t size)
{
    void* block = std::calloc(1, size == 0 ? 1 : size);
    return block;
}

// A binary property of a text entry identifier, in memory of its own.
SPropValue EntryValue(ULONG tag, const char* text)
{
    SPropValue value = {};
    value.ulPropTag = tag;
    value.Value.bin.cb = static_cast<ULONG>(std::strlen(text));
    value.Value.bin.lpb = static_cast<LPBYTE>(Allocate(value.Value.bin.cb));
    std::memcpy(value.Value.bin.lpb, text, value.Value.bin.cb);
    return value;
}

SPropValue LongValue(ULONG tag, ULONG number)
{
    SPropValue value = {};
    value.ulPropTag = tag;
    value.Value.l = static_cast<LONG>(number);
    return value;
}

std::string Describe(const SPropValue& value)
{
    switch (PROP_TYPE(value.ulPropTag)) {
    case PT_UNICODE:
        return Utf8(value.Value.lpszW);
    case PT_LONG:
        return std::to_string(value.Value.l);
    case PT_BOOLEAN:
        return value.Value.b ? "true" : "false";
    case PT_BINARY:
        return std::to_string(value.Value.bin.cb) + " bytes";
    default:
        return "?";
    }
}

std::string TagName(ULONG tag)
{
    static const std::map<ULONG, const char*> names = {
        {PR_DELETE_AFTER_SUBMIT, "PR_DELETE_AFTER_SUBMIT"}, {PR_SUBJECT_W, "PR_SUBJECT_W"},
        {PR_BODY_W, "PR_BODY_W"}, {PR_ATTACH_METHOD, "PR_ATTACH_METHOD"},
        {PR_ATTACH_FILENAME_W, "PR_ATTACH_FILENAME_W"}, {PR_ATTACH_DATA_BIN, "PR_ATTACH_DATA_BIN"},
        {PR_DISPLAY_NAME_W, "PR_DISPLAY_NAME_W"}, {PR_RECIPIENT_TYPE, "PR_RECIPIENT_TYPE"},
        {PR_EMAIL_ADDRESS_W, "PR_EMAIL_ADDRESS_W"}, {PR_ENTRYID, "PR_ENTRYID"},
        {PR_RESOURCE_FLAGS, "PR_RESOURCE_FLAGS"}, {PR_RESOURCE_TYPE, "PR_RESOURCE_TYPE"},
        {PR_MESSAGE_FLAGS, "PR_MESSAGE_FLAGS"}, {PR_MESSAGE_CLASS_W, "PR_MESSAGE_CLASS_W"},
        {PR_ACCESS, "PR_ACCESS"}, {PR_MSG_STATUS, "PR_MSG_STATUS"}, {PR_IPM_OUTBOX_ENTRYID, "PR_IPM_OUTBOX_ENTRYID"},
    };
    const auto found = names.find(tag);
    return found != names.end() ? found->second : Hex(tag);
}

#define STUB override { return MAPI_E_NO_SUPPORT; }

// Reference counting that records when an object is released for good.
#define COUNTED(Name)                                                                                              \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, LPVOID* object) override                                       \
    {                                                                                                              \
        *object = this;                                                                                            \
        AddRef();                                                                                                  \
        return S_OK;                                                                                               \
    }                                                                                                              \
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }                                           \
    ULONG STDMETHODCALLTYPE Release() override                                                                     \
    {                                                                                                              \
        if (--m_references == 0)                                                                                   \
            Log("Release " Name);                                                                                  \
        return m_references;                                                                                       \
    }                                                                                                              \
    ULONG m_references = 1;

// Properties kept by tag; GetProps answers with copies.
class CProperties {
public:
    void Set(const SPropValue& value)
    {
        CValue& kept = m_values[value.ulPropTag];
        kept.value = value;
        if (PROP_TYPE(value.ulPropTag) == PT_UNICODE) {
            kept.text = value.Value.lpszW;
            kept.value.Value.lpszW = kept.text.data();
        } else if (PROP_TYPE(value.ulPropTag) == PT_BINARY) {
            kept.bytes.assign(value.Value.bin.lpb, value.Value.bin.lpb + value.Value.bin.cb);
            kept.value.Value.bin.lpb = kept.bytes.data();
        }
    }
    const SPropValue* Find(ULONG tag) const
    {
        const auto found = m_values.find(tag);
        return found == m_values.end() ? nullptr : &found->second.value;
    }
    HRESULT Get(LPSPropTagArray tags, ULONG* count, LPSPropValue* values) const
    {
        *count = tags->cValues;
        *values = static_cast<LPSPropValue>(Allocate(tags->cValues * sizeof(SPropValue)));
        bool missing = false;
        for (ULONG i = 0; i < tags->cValues; ++i) {
            if (const SPropValue* value = Find(tags->aulPropTag[i])) {
                (*values)[i] = *value;
            } else {
                (*values)[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tags->aulPropTag[i]));
                (*values)[i].Value.err = MAPI_E_NOT_FOUND;
                missing = true;
            }
        }
        return missing ? MAPI_W_ERRORS_RETURNED : S_OK;
    }

private:
    struct CValue {
        SPropValue value;
        std::wstring text;
        std::vector<BYTE> bytes;
    };
    std::map<ULONG, CValue> m_values;
};

#define PROPERTIES(Name)                                                                                           \
    HRESULT STDMETHODCALLTYPE GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* values)       \
        override                                                                                                   \
    {                                                                                                              \
        std::string line = std::string("GetProps ") + Name + " flags=" + Hex(flags);                               \
        for (ULONG i = 0; i < tags->cValues; ++i)                                                                  \
            line += " " + TagName(tags->aulPropTag[i]);                                                            \
        Log(line);                                                                                                 \
        return m_properties.Get(tags, count, values);                                                              \
    }                                                                                                              \
    HRESULT STDMETHODCALLTYPE SetProps(ULONG count, LPSPropValue values, LPSPropProblemArray* problems) override    \
    {                                                                                                              \
        for (ULONG i = 0; i < count; ++i) {                                                                        \
            Log(std::string("SetProps ") + Name + " " + TagName(values[i].ulPropTag) + "=" + Describe(values[i]));  \
            m_properties.Set(values[i]);                                                                           \
        }                                                                                                          \
        if (problems != nullptr)                                                                                   \
            *problems = nullptr;                                                                                   \
        return S_OK;                                                                                               \
    }                                                                                                              \
    CProperties m_properties;

struct CTableStub : IMAPITable {
    MAPI_IUNKNOWN_METHODS(STUB)
    MAPI_IMAPITABLE_METHODS(STUB)
};

// Rows of properties; SetColumns picks what QueryRows gives.
class CTable : public CTableStub {
public:
    explicit CTable(std::vector<std::vector<SPropValue>> rows) : m_rows(std::move(rows)) {}
    COUNTED("table")
    HRESULT STDMETHODCALLTYPE SetColumns(LPSPropTagArray tags, ULONG flags) override
    {
        std::string line = "SetColumns flags=" + Hex(flags);
        m_columns.clear();
        for (ULONG i = 0; i < tags->cValues; ++i) {
            m_columns.push_back(tags->aulPropTag[i]);
            line += " " + TagName(tags->aulPropTag[i]);
        }
        Log(line);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE QueryRows(LONG count, ULONG flags, LPSRowSet* result) override
    {
        const std::size_t rows = m_rows.size();
        auto* set = static_cast<LPSRowSet>(Allocate(offsetof(SRowSet, aRow) + (rows + 1) * sizeof(SRow)));
        set->cRows = static_cast<ULONG>(rows);
        for (std::size_t r = 0; r < rows; ++r) {
            SRow& row = set->aRow[r];
            row.cValues = static_cast<ULONG>(m_columns.size());
            row.lpProps = static_cast<LPSPropValue>(Allocate(m_columns.size() * sizeof(SPropValue)));
            for (std::size_t c = 0; c < m_columns.size(); ++c) {
                row.lpProps[c].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(m_columns[c]));
                row.lpProps[c].Value.err = MAPI_E_NOT_FOUND;
                for (const SPropValue& value : m_rows[r])
                    if (value.ulPropTag == m_columns[c])
                        row.lpProps[c] = value;
            }
        }
        *result = set;
        return S_OK;
    }

private:
    std::vector<std::vector<SPropValue>> m_rows;
    std::vector<ULONG> m_columns;
};

struct CStatusStub : IMAPIStatus {
    MAPI_IUNKNOWN_METHODS(STUB)
    MAPI_IMAPIPROP_METHODS(STUB)
    MAPI_IMAPISTATUS_METHODS(STUB)
};

class CSpooler : public CStatusStub {
public:
    COUNTED("spooler")
    HRESULT STDMETHODCALLTYPE FlushQueues(ULONG ui, ULONG size, LPENTRYID transport, ULONG flags) override
    {
        Log("FlushQueues ui=" + std::to_string(ui) + " transport=" + Entry(size, transport) + " flags=" + Hex(flags));
        return S_OK;
    }
};

struct CAttachStub : IAttach {
    MAPI_IUNKNOWN_METHODS(STUB)
    MAPI_IMAPIPROP_METHODS(STUB)
};

class CAttach : public CAttachStub {
public:
    explicit CAttach(int number) : m_number(number) {}
    COUNTED("attachment")
    PROPERTIES("attachment")
    HRESULT STDMETHODCALLTYPE SaveChanges(ULONG flags) override
    {
        Log("SaveChanges attachment flags=" + Hex(flags));
        // The data as it arrived, for the test to compare with the file.
        const SPropValue* name = m_properties.Find(PR_ATTACH_FILENAME_W);
        const SPropValue* data = m_properties.Find(PR_ATTACH_DATA_BIN);
        const std::wstring log = Environment(L"GLEAN_TEST_MAPI_LOG");
        if (name != nullptr && data != nullptr && !log.empty()) {
            const std::wstring path = log + L"." + std::to_wstring(m_number) + L"." + name->Value.lpszW;
            if (FILE* file = _wfopen(path.c_str(), L"wb")) {
                std::fwrite(data->Value.bin.lpb, 1, data->Value.bin.cb, file);
                std::fclose(file);
            }
        }
        return S_OK;
    }

private:
    int m_number;
};

struct CMessageStub : IMessage {
    MAPI_IUNKNOWN_METHODS(STUB)
    MAPI_IMAPIPROP_METHODS(STUB)
    MAPI_IMESSAGE_METHODS(STUB)
};

class CMessage : public CMessageStub {
public:
    CMessage()
    {
        m_properties.Set(LongValue(PR_MESSAGE_FLAGS, MSGFLAG_UNSENT));
        SPropValue messageClass = {};
        messageClass.ulPropTag = PR_MESSAGE_CLASS_W;
        messageClass.Value.lpszW = const_cast<wchar_t*>(L"IPM.Note");
        m_properties.Set(messageClass);
        m_properties.Set(LongValue(PR_ACCESS, 3));
        m_properties.Set(EntryValue(PR_ENTRYID, "message"));
        m_properties.Set(LongValue(PR_MSG_STATUS, 0));
    }
    COUNTED("message")
    PROPERTIES("message")
    HRESULT STDMETHODCALLTYPE ModifyRecipients(ULONG flags, LPADRLIST list) override
    {
        for (ULONG i = 0; i < list->cEntries; ++i) {
            std::string line = "ModifyRecipients flags=" + Hex(flags);
            for (ULONG p = 0; p < list->aEntries[i].cValues; ++p)
                line += " " + TagName(list->aEntries[i].rgPropVals[p].ulPropTag) + "=" +
                        Describe(list->aEntries[i].rgPropVals[p]);
            Log(line);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateAttach(LPCIID iid, ULONG flags, ULONG* number, LPATTACH* attach) override
    {
        Log("CreateAttach interface=" + std::string(iid == nullptr ? "null" : "given") + " flags=" + Hex(flags));
        *number = ++m_attachments;
        *attach = new CAttach(static_cast<int>(*number));
        return S_OK;
    }

private:
    ULONG m_attachments = 0;
};

struct CFolderStub : IMAPIFolder {
    MAPI_IUNKNOWN_METHODS(STUB)
    MAPI_IMAPIPROP_METHODS(STUB)
    MAPI_IMAPICONTAINER_METHODS(STUB)
    MAPI_IMAPIFOLDER_METHODS(STUB)
};

class COutbox : public CFolderStub {
public:
    COUNTED("outbox")
    HRESULT STDMETHODCALLTYPE CreateMessage(LPCIID iid, ULONG flags, LPMESSAGE* message) override
    {
        Log("CreateMessage interface=" + std::string(iid == nullptr ? "null" : "given") + " flags=" + Hex(flags));
        *message = new CMessage;
        return S_OK;
    }
};

struct CStoreStub : IMsgStore {
    MAPI_IUNKNOWN_METHODS(STUB)
    MAPI_IMAPIPROP_METHODS(STUB)
    MAPI_IMSGSTORE_METHODS(STUB)
};

class CStore : public CStoreStub {
public:
    CStore() { m_properties.Set(EntryValue(PR_IPM_OUTBOX_ENTRYID, "outbox")); }
    COUNTED("store")
    PROPERTIES("store")
    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG size, LPENTRYID entry, LPCIID iid, ULONG flags, ULONG* type,
                                        LPUNKNOWN* object) override
    {
        Log("OpenEntry store entry=" + Entry(size, entry) + " interface=" + (iid == nullptr ? "null" : "given") +
            " flags=" + Hex(flags));
        if (Entry(size, entry) != "outbox")
            return MAPI_E_NOT_FOUND;
        *type = MAPI_FOLDER;
        *object = reinterpret_cast<LPUNKNOWN>(static_cast<IMAPIFolder*>(new COutbox));
        return S_OK;
    }
};

struct CAddressBookStub : IAddrBook {
    MAPI_IUNKNOWN_METHODS(STUB)
    MAPI_IMAPIPROP_METHODS(STUB)
    MAPI_IADDRBOOK_METHODS(STUB)
};

class CAddressBook : public CAddressBookStub {
public:
    COUNTED("address book")
    HRESULT STDMETHODCALLTYPE ResolveName(ULONG_PTR ui, ULONG flags, LPWSTR title, LPADRLIST list) override
    {
        for (ULONG i = 0; i < list->cEntries; ++i) {
            std::string line = "ResolveName ui=" + std::to_string(ui) + " flags=" + Hex(flags) +
                               " title=" + (title == nullptr ? "null" : Utf8(title));
            for (ULONG p = 0; p < list->aEntries[i].cValues; ++p)
                line += " " + TagName(list->aEntries[i].rgPropVals[p].ulPropTag) + "=" +
                        Describe(list->aEntries[i].rgPropVals[p]);
            Log(line);
        }
        if (Mode(L"unresolved"))
            return MAPI_E_NOT_FOUND;
        // Each entry becomes a resolved one: name, address and entry.
        for (ULONG i = 0; i < list->cEntries; ++i) {
            ADRENTRY& entry = list->aEntries[i];
            const std::wstring given = entry.rgPropVals[0].Value.lpszW;
            const auto open = given.find(L'[');
            const std::wstring name = given.substr(0, open);
            const std::wstring address =
                open == std::wstring::npos ? given : given.substr(open + 1, given.size() - open - 2);
            MAPIFreeBuffer(entry.rgPropVals);
            auto* values = static_cast<LPSPropValue>(Allocate(4 * sizeof(SPropValue) +
                                                              (name.size() + address.size() + 2) * sizeof(wchar_t)));
            auto* text = reinterpret_cast<wchar_t*>(values + 4);
            std::wcscpy(text, name.c_str());
            std::wcscpy(text + name.size() + 1, address.c_str());
            values[0].ulPropTag = PR_DISPLAY_NAME_W;
            values[0].Value.lpszW = text;
            values[1].ulPropTag = PR_EMAIL_ADDRESS_W;
            values[1].Value.lpszW = text + name.size() + 1;
            values[2] = LongValue(PR_RECIPIENT_TYPE, MAPI_TO);
            values[3] = EntryValue(PR_ENTRYID, "recipient");
            entry.cValues = 4;
            entry.rgPropVals = values;
        }
        return S_OK;
    }
};

struct CSessionStub : IMAPISession {
    MAPI_IUNKNOWN_METHODS(STUB)
    MAPI_IMAPISESSION_METHODS(STUB)
};

class CSession : public CSessionStub {
public:
    COUNTED("session")
    HRESULT STDMETHODCALLTYPE GetMsgStoresTable(ULONG flags, LPMAPITABLE* table) override
    {
        Log("GetMsgStoresTable flags=" + Hex(flags));
        // A default store that is not the primary one, the primary store,
        // and the spooler.
        *table = new CTable({{LongValue(PR_RESOURCE_FLAGS, STATUS_DEFAULT_STORE), EntryValue(PR_ENTRYID, "other")},
                             {LongValue(PR_RESOURCE_FLAGS, STATUS_PRIMARY_STORE | STATUS_PRIMARY_IDENTITY),
                              EntryValue(PR_ENTRYID, "store")},
                             {LongValue(PR_RESOURCE_TYPE, MAPI_SPOOLER), EntryValue(PR_ENTRYID, "spooler")}});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OpenMsgStore(ULONG_PTR ui, ULONG size, LPENTRYID entry, LPCIID iid, ULONG flags,
                                           LPMDB* store) override
    {
        Log("OpenMsgStore ui=" + std::to_string(ui) + " entry=" + Entry(size, entry) +
            " interface=" + (iid == nullptr ? "null" : "given") + " flags=" + Hex(flags));
        *store = new CStore;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OpenAddressBook(ULONG_PTR ui, LPCIID iid, ULONG flags, LPADRBOOK* book) override
    {
        Log("OpenAddressBook ui=" + std::to_string(ui) + " interface=" + (iid == nullptr ? "null" : "given") +
            " flags=" + Hex(flags));
        *book = new CAddressBook;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG size, LPENTRYID entry, LPCIID iid, ULONG flags, ULONG* type,
                                        LPUNKNOWN* object) override
    {
        Log("OpenEntry session entry=" + Entry(size, entry) + " flags=" + Hex(flags));
        if (Entry(size, entry) != "spooler")
            return MAPI_E_NOT_FOUND;
        *type = MAPI_STATUS;
        *object = reinterpret_cast<LPUNKNOWN>(static_cast<IMAPIStatus*>(new CSpooler));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PrepareForm(LPCIID iid, LPMESSAGE message, ULONG* token) override
    {
        Log("PrepareForm interface=" + std::string(iid == nullptr ? "null" : "given"));
        *token = 7;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ShowForm(ULONG_PTR ui, LPMDB store, LPMAPIFOLDER folder, LPCIID iid, ULONG token,
                                       LPMESSAGE sent, ULONG flags, ULONG status, ULONG messageFlags, ULONG access,
                                       LPSTR messageClass) override
    {
        Log("ShowForm ui=" + std::to_string(ui) + " store=" + (store != nullptr ? "given" : "null") +
            " folder=" + (folder != nullptr ? "given" : "null") + " interface=" + (iid == nullptr ? "null" : "given") +
            " token=" + std::to_string(token) + " sent=" + (sent == nullptr ? "null" : "given") +
            " flags=" + Hex(flags) + " status=" + std::to_string(status) + " messageFlags=" + std::to_string(messageFlags) +
            " access=" + std::to_string(access) + " class=" + messageClass);
        // "slow": the user takes a while over the form.
        if (Mode(L"slow"))
            ::Sleep(3000);
        return Mode(L"cancel") ? MAPI_E_USER_CANCEL : S_OK;
    }
};

} // namespace

extern "C" {

__declspec(dllexport) HRESULT WINAPI MAPIInitialize(LPVOID init)
{
    Log(std::string("MAPIInitialize init=") + (init == nullptr ? "null" : "given") + " provider=" +
        (sizeof(void*) == 8 ? "x64" : "x86"));
    return S_OK;
}

__declspec(dllexport) void WINAPI MAPIUninitialize()
{
    Log("MAPIUninitialize");
}

__declspec(dllexport) HRESULT WINAPI MAPILogonEx(ULONG_PTR ui, LPWSTR profile, LPWSTR password, ULONG flags,
                                                 LPMAPISESSION* session)
{
    Log("MAPILogonEx ui=" + std::to_string(ui) + " profile=" + (profile == nullptr ? "null" : "given") +
        " password=" + (password == nullptr ? "null" : "given") + " flags=" + Hex(flags));
    if (Mode(L"refuse-logon"))
        return MAPI_E_LOGON_FAILED;
    *session = new CSession;
    return S_OK;
}

__declspec(dllexport) SCODE WINAPI MAPIAllocateBuffer(ULONG size, LPVOID* buffer)
{
    *buffer = Allocate(size);
    return S_OK;
}

__declspec(dllexport) ULONG WINAPI MAPIFreeBuffer(LPVOID buffer)
{
    std::free(buffer);
    return 0;
}

__declspec(dllexport) HRESULT WINAPI HrGetOneProp(LPMAPIPROP object, ULONG tag, LPSPropValue* value)
{
    SPropTagArray tags = {1, {tag}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    object->GetProps(&tags, 0, &count, &values);
    if (values == nullptr || values[0].ulPropTag != tag) {
        std::free(values);
        return MAPI_E_NOT_FOUND;
    }
    *value = values;
    return S_OK;
}

__declspec(dllexport) HRESULT WINAPI HrSetOneProp(LPMAPIPROP object, LPSPropValue value)
{
    return object->SetProps(1, value, nullptr);
}

__declspec(dllexport) HRESULT WINAPI HrQueryAllRows(LPMAPITABLE table, LPSPropTagArray tags, LPSRestriction restriction,
                                                    LPSSortOrderSet order, LONG limit, LPSRowSet* rows)
{
    Log(std::string("HrQueryAllRows columns=") + (tags == nullptr ? "null" : "given") +
        " restriction=" + (restriction == nullptr ? "null" : "given") + " order=" + (order == nullptr ? "null" : "given") +
        " limit=" + std::to_string(limit));
    if (tags != nullptr)
        table->SetColumns(tags, 0);
    return table->QueryRows(0x7FFFFFFF, 0, rows);
}

__declspec(dllexport) void WINAPI FreeProws(LPSRowSet rows)
{
    Log("FreeProws");
    for (ULONG i = 0; i < rows->cRows; ++i)
        std::free(rows->aRow[i].lpProps);
    std::free(rows);
}

__declspec(dllexport) void WINAPI FreePadrlist(LPADRLIST list)
{
    Log("FreePadrlist entries=" + std::to_string(list->cEntries));
    for (ULONG i = 0; i < list->cEntries; ++i)
        std::free(list->aEntries[i].rgPropVals);
    std::free(list);
}

} // extern "C"
