// A stand-in for WMI, for the Windows tests: registered in the test's Wine prefix as the WMI
// locator's class, it serves the rows of the capture named by QZBIOS_STANDIN_CAPTURE to a query of
// any namespace, through the real COM interfaces the WMI client uses. QZBIOS_STANDIN_FAIL_AFTER=N
// makes Next fail with WBEM_E_PROVIDER_FAILURE after N rows; QZBIOS_STANDIN_ROW_MS=M delays every
// row by M ms (a negative M never answers). Without QZBIOS_STANDIN_CAPTURE it hands every request
// to Wine's own provider, so that the other tests see WMI as it is.
#define CINTERFACE
#include <windows.h>

#include <oleauto.h>
#include <wbemidl.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "sources/Capture.h"

namespace {

using qz::shared::sources::SettingRow;

// Every COM object here: its vtable, its references, and what it holds.
struct Object {
    const void* vtable = nullptr;
    const IID* iid = nullptr;  // the interface it is, beside IUnknown
    std::atomic<ULONG> references{1};
    std::vector<SettingRow> rows;  // the query's rows
    std::size_t next = 0;          // the enumeration's next row
    const SettingRow* row = nullptr;
    DWORD waited = 0;  // of the next row's delay
};

long Setting(const char* name, long otherwise) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::strtol(value, nullptr, 10) : otherwise;
}

HRESULT STDMETHODCALLTYPE NotImplemented() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE QueryInterface(void* self, REFIID iid, void** out) {
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, *static_cast<Object*>(self)->iid)) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    *out = self;
    static_cast<Object*>(self)->references++;
    return S_OK;
}
ULONG STDMETHODCALLTYPE AddRef(void* self) { return ++static_cast<Object*>(self)->references; }
ULONG STDMETHODCALLTYPE Release(void* self) {
    const ULONG left = --static_cast<Object*>(self)->references;
    if (left == 0) {
        delete static_cast<Object*>(self);
    }
    return left;
}

// A vtable of `Vtbl` whose every slot answers E_NOTIMPL, but IUnknown's.
template <typename Vtbl>
Vtbl Stubs() {
    Vtbl vtable{};
    auto** slots = reinterpret_cast<void**>(&vtable);
    for (std::size_t i = 0; i < sizeof vtable / sizeof(void*); ++i) {
        slots[i] = reinterpret_cast<void*>(&NotImplemented);
    }
    slots[0] = reinterpret_cast<void*>(&QueryInterface);
    slots[1] = reinterpret_cast<void*>(&AddRef);
    slots[2] = reinterpret_cast<void*>(&Release);
    return vtable;
}

template <typename Interface>
Interface* Make(const void* vtable, const IID& iid, std::vector<SettingRow> rows = {},
                const SettingRow* row = {}) {
    auto* object = new Object();
    object->vtable = vtable;
    object->iid = &iid;
    object->rows = std::move(rows);
    object->row = row;
    return reinterpret_cast<Interface*>(object);
}

HRESULT STDMETHODCALLTYPE Get(IWbemClassObject* self, LPCWSTR name, LONG, VARIANT* value, CIMTYPE*,
                              LONG*) {
    const SettingRow& row = *reinterpret_cast<Object*>(self)->row;
    const std::optional<std::string>& text = std::wstring(name) == L"Name"    ? row.name
                                             : std::wstring(name) == L"Value" ? row.value
                                                                              : std::nullopt;
    VariantInit(value);
    if (!text) {
        value->vt = VT_NULL;
        const bool known = std::wstring(name) == L"Name" || std::wstring(name) == L"Value";
        return known ? S_OK : static_cast<HRESULT>(0x80041002u);  // WBEM_E_NOT_FOUND
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text->data(), static_cast<int>(text->size()), nullptr, 0);
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    MultiByteToWideChar(CP_UTF8, 0, text->data(), static_cast<int>(text->size()), value->bstrVal,
                        length);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE Next(IEnumWbemClassObject* self, LONG timeout, ULONG,
                               IWbemClassObject** out, ULONG* returned) {
    static const IWbemClassObjectVtbl kRow = [] {
        auto vtable = Stubs<IWbemClassObjectVtbl>();
        vtable.Get = &Get;
        return vtable;
    }();
    Object& rows = *reinterpret_cast<Object*>(self);
    *returned = 0;
    if (rows.next >= rows.rows.size()) {
        return WBEM_S_FALSE;
    }
    if (static_cast<long>(rows.next) >= Setting("QZBIOS_STANDIN_FAIL_AFTER", -1) &&
        Setting("QZBIOS_STANDIN_FAIL_AFTER", -1) >= 0) {
        return static_cast<HRESULT>(0x80041004u);  // WBEM_E_PROVIDER_FAILURE
    }
    const long delay = Setting("QZBIOS_STANDIN_ROW_MS", 0);
    const DWORD wait = timeout < 0 ? INFINITE : static_cast<DWORD>(timeout);
    if (delay < 0 || static_cast<DWORD>(delay) - rows.waited > wait) {
        Sleep(wait);
        rows.waited += delay < 0 ? 0 : wait;
        return WBEM_S_TIMEDOUT;
    }
    Sleep(static_cast<DWORD>(delay) - rows.waited);
    rows.waited = 0;
    *out = Make<IWbemClassObject>(&kRow, IID_IWbemClassObject, {}, &rows.rows[rows.next++]);
    *returned = 1;
    return WBEM_S_NO_ERROR;
}

HRESULT STDMETHODCALLTYPE ExecQuery(IWbemServices*, BSTR, BSTR, LONG, IWbemContext*,
                                    IEnumWbemClassObject** out) {
    static const IEnumWbemClassObjectVtbl kRows = [] {
        auto vtable = Stubs<IEnumWbemClassObjectVtbl>();
        vtable.Next = &Next;
        return vtable;
    }();
    std::vector<SettingRow> rows;
    std::string error;
    if (!qz::shared::sources::LoadCaptureFile(std::getenv("QZBIOS_STANDIN_CAPTURE"), rows, error)) {
        return static_cast<HRESULT>(0x80041001u);  // WBEM_E_FAILED
    }
    *out = Make<IEnumWbemClassObject>(&kRows, IID_IEnumWbemClassObject, std::move(rows));
    return WBEM_S_NO_ERROR;
}

HRESULT STDMETHODCALLTYPE ConnectServer(IWbemLocator*, const BSTR, const BSTR, const BSTR,
                                        const BSTR, LONG, const BSTR, IWbemContext*,
                                        IWbemServices** out) {
    static const IWbemServicesVtbl kServices = [] {
        auto vtable = Stubs<IWbemServicesVtbl>();
        vtable.ExecQuery = &ExecQuery;
        return vtable;
    }();
    *out = Make<IWbemServices>(&kServices, IID_IWbemServices);
    return WBEM_S_NO_ERROR;
}

HRESULT STDMETHODCALLTYPE CreateInstance(IClassFactory*, IUnknown*, REFIID, void** out) {
    static const IWbemLocatorVtbl kLocator = [] {
        auto vtable = Stubs<IWbemLocatorVtbl>();
        vtable.ConnectServer = &ConnectServer;
        return vtable;
    }();
    *out = Make<IWbemLocator>(&kLocator, IID_IWbemLocator);
    return S_OK;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (std::getenv("QZBIOS_STANDIN_CAPTURE") == nullptr) {
        using Get = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        HMODULE wine = LoadLibraryW(L"wbemprox.dll");
        const auto get = reinterpret_cast<Get>(
            reinterpret_cast<void*>(GetProcAddress(wine, "DllGetClassObject")));
        return get != nullptr ? get(clsid, iid, out) : CLASS_E_CLASSNOTAVAILABLE;
    }
    static const IClassFactoryVtbl kFactory = [] {
        auto vtable = Stubs<IClassFactoryVtbl>();
        vtable.CreateInstance = &CreateInstance;
        return vtable;
    }();
    *out = Make<IClassFactory>(&kFactory, IID_IClassFactory);
    return S_OK;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
