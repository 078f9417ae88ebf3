// The WMI client on Windows: one WQL query through COM, read forward one object at a time.
// windows.h first: the COM headers depend on what it defines.
#include <windows.h>

#include <oleauto.h>
#include <wbemidl.h>

#include <algorithm>
#include <new>
#include <string>

#include "common/WbemStatus.h"
#include "wmi/WMIClient.h"

namespace qz::shared::wmi {

namespace {

using namespace common;  // the WBEM statuses

// Owns one reference to a COM interface.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { Reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For out-parameters: releases what is held and hands out the slot.
    T** Put() {
        Reset();
        return &m_p;
    }
    void Reset() {
        if (m_p != nullptr) {
            m_p->Release();
            m_p = nullptr;
        }
    }

private:
    T* m_p = nullptr;
};

// Owns a BSTR.
class Bstr {
public:
    explicit Bstr(const std::wstring& text)
        : m_bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(m_bstr); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR Get() const { return m_bstr; }

private:
    BSTR m_bstr;
};

// Owns a VARIANT's contents.
class Variant {
public:
    Variant() { VariantInit(&m_value); }
    ~Variant() { VariantClear(&m_value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT* Get() { return &m_value; }

private:
    VARIANT m_value;
};

// COM on the calling thread for the client's lifetime. A host that already chose another
// apartment model for the thread keeps it (RPC_E_CHANGED_MODE); COM is usable either way, and only
// an initialisation made here is undone here.
class ComApartment {
public:
    ComApartment() : m_status(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(m_status)) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    bool Usable() const { return SUCCEEDED(m_status) || m_status == RPC_E_CHANGED_MODE; }
    HRESULT Status() const { return m_status; }

private:
    HRESULT m_status;
};

// BSTR text as UTF-8: lossless for every string WMI can hold, and the same bytes a capture of the
// machine replays on other systems.
bool ToUtf8(BSTR text, std::string& out) {
    const int length = static_cast<int>(SysStringLen(text));
    if (length == 0) {
        out.clear();
        return true;
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return false;
    }
    out.resize(static_cast<std::size_t>(bytes));
    return WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), bytes, nullptr, nullptr) ==
           bytes;
}

}  // namespace

// Members are released in reverse order: the COM objects before the apartment that holds them.
struct WMIClient::State {
    ComApartment apartment;
    HRESULT connectStatus = kWbemFailed;
    ComPtr<IWbemServices> services;
    ComPtr<IEnumWbemClassObject> rows;
    ComPtr<IWbemClassObject> current;
    std::string text;        // the last string handed out
    ULONGLONG deadline = 0;  // GetTickCount64 after which the query's rows are not waited for
    HRESULT rowsStatus = kWbemOk;
};

// A provider that hangs must not hang the host's thread: the connection returns within two minutes
// (WBEM_FLAG_CONNECT_USE_MAX_WAIT), each row is waited for at most kRowWait, and all rows of one
// query at most kQueryWait from the query on, each wait no longer than what is left; a query that
// runs out of time ends its rows with WBEM_S_TIMEDOUT, and one whose provider fails with that
// failure (RowsStatus).
constexpr LONG kRowWait = 5000;
constexpr ULONGLONG kQueryWait = 30000;

WMIClient::WMIClient(const std::wstring& wmiNamespace) : m_state(new (std::nothrow) State) {
    if (!m_state) {
        return;
    }
    State& state = *m_state;
    if (!state.apartment.Usable()) {
        state.connectStatus = state.apartment.Status();
        return;
    }
    ComPtr<IWbemLocator> locator;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWbemLocator, reinterpret_cast<void**>(locator.Put()));
    if (FAILED(hr)) {
        state.connectStatus = hr;
        return;
    }
    const Bstr path(wmiNamespace);
    if (path.Get() == nullptr) {
        state.connectStatus = kWbemOutOfMemory;
        return;
    }
    hr = locator->ConnectServer(path.Get(), nullptr, nullptr, nullptr,
                                WBEM_FLAG_CONNECT_USE_MAX_WAIT, nullptr, nullptr,
                                state.services.Put());
    if (FAILED(hr)) {
        state.services.Reset();
        state.connectStatus = hr;
        return;
    }
    // The process-wide security defaults are the host's to choose (CoInitializeSecurity); this
    // proxy alone is set to impersonate, which WMI providers need. In-process services have no
    // proxy to configure, so a failure here is not one of the connection.
    CoSetProxyBlanket(state.services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                      RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    state.connectStatus = kWbemOk;
}

WMIClient::~WMIClient() = default;

std::int32_t WMIClient::Query(const std::wstring& query) {
    if (!m_state) {
        return kWbemOutOfMemory;
    }
    State& state = *m_state;
    state.current.Reset();
    state.rows.Reset();
    state.rowsStatus = kWbemOk;
    if (!state.services) {
        return state.connectStatus;
    }
    const Bstr language(L"WQL");
    const Bstr text(query);
    if (language.Get() == nullptr || text.Get() == nullptr) {
        return kWbemOutOfMemory;
    }
    const HRESULT hr = state.services->ExecQuery(
        language.Get(), text.Get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
        state.rows.Put());
    if (FAILED(hr)) {
        state.rows.Reset();
    }
    state.deadline = GetTickCount64() + kQueryWait;
    return hr;
}

bool WMIClient::GetNext() {
    if (!m_state) {
        return false;
    }
    State& state = *m_state;
    state.current.Reset();
    if (!state.rows) {
        return false;
    }
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= state.deadline) {
            state.rowsStatus = WBEM_S_TIMEDOUT;
            state.rows.Reset();
            return false;
        }
        const auto wait = static_cast<LONG>(std::min<ULONGLONG>(kRowWait, state.deadline - now));
        ULONG returned = 0;
        const HRESULT hr = state.rows->Next(wait, 1, state.current.Put(), &returned);
        if (hr == WBEM_S_NO_ERROR && returned == 1) {
            return true;
        }
        state.current.Reset();
        if (hr != WBEM_S_TIMEDOUT) {
            // WBEM_S_FALSE: no more rows. Anything else that fails is the provider's failure.
            state.rowsStatus = FAILED(hr) ? hr : kWbemOk;
            state.rows.Reset();
            return false;
        }
    }
}

std::int32_t WMIClient::RowsStatus() const {
    return m_state ? static_cast<std::int32_t>(m_state->rowsStatus) : kWbemOutOfMemory;
}

std::int32_t WMIClient::GetValue(const std::wstring& property, const char** value) {
    *value = nullptr;
    if (!m_state || !m_state->current) {
        return kWbemFailed;
    }
    State& state = *m_state;
    Variant content;
    const HRESULT hr = state.current->Get(property.c_str(), 0, content.Get(), nullptr, nullptr);
    if (FAILED(hr)) {
        return hr;
    }
    // Only strings are delivered; VT_NULL and every other type cannot be read as one.
    if (content.Get()->vt != VT_BSTR) {
        return static_cast<std::int32_t>(WBEM_E_TYPE_MISMATCH);
    }
    try {
        if (!ToUtf8(content.Get()->bstrVal, state.text)) {
            return kWbemFailed;
        }
    } catch (const std::bad_alloc&) {
        return kWbemOutOfMemory;
    }
    *value = state.text.c_str();
    return kWbemOk;
}

}  // namespace qz::shared::wmi
