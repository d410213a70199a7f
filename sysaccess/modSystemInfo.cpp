#include "sysaccess/modSystemInfo.h"

#include <windows.h>
#include <wbemcli.h>

#include "platform/win/Com.h"

namespace modSystemInfo {

namespace {

// A scalar's text as the page shows it: numbers in decimal, True/False.
bool ScalarText(const VARIANT& v, std::wstring& text) {
    if (v.vt == VT_EMPTY || v.vt == VT_NULL) return false;
    if (v.vt == VT_BSTR) {
        text.assign(v.bstrVal ? v.bstrVal : L"", v.bstrVal ? SysStringLen(v.bstrVal) : 0);
        return true;
    }
    win::Variant converted;
    VARIANT* out = converted.Put();
    if (FAILED(VariantChangeTypeEx(out, const_cast<VARIANT*>(&v), LOCALE_USER_DEFAULT, VARIANT_ALPHABOOL, VT_BSTR)))
        return false;
    text.assign(out->bstrVal ? out->bstrVal : L"", out->bstrVal ? SysStringLen(out->bstrVal) : 0);
    return true;
}

// The elements of a one-dimensional array, each as text (empty when it has none).
std::vector<std::wstring> ArrayTexts(SAFEARRAY* array, VARTYPE type) {
    std::vector<std::wstring> texts;
    LONG low = 0, high = -1;
    if (!array || SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &low)) ||
        FAILED(SafeArrayGetUBound(array, 1, &high)))
        return texts;
    for (LONG i = low; i <= high; ++i) {
        win::Variant element;
        VARIANT* e = element.Put();
        HRESULT hr;
        if (type == VT_VARIANT) {
            hr = SafeArrayGetElement(array, &i, e);
        } else {
            // The element lands at the start of the value union; the type
            // tells VariantClear what it holds (a BSTR copy is freed).
            hr = SafeArrayGetElement(array, &i, &e->llVal);
            if (SUCCEEDED(hr)) e->vt = type;
        }
        std::wstring text;
        if (SUCCEEDED(hr)) ScalarText(*e, text);
        texts.push_back(std::move(text));
    }
    return texts;
}

bool ReadProperty(IWbemClassObject* object, const std::wstring& name, Property& property) {
    win::Variant value;
    if (FAILED(object->Get(name.c_str(), 0, value.Put(), nullptr, nullptr))) return false;
    const VARIANT& v = value.Get();
    if (v.vt & VT_ARRAY) {
        SAFEARRAY* array = (v.vt & VT_BYREF) ? (v.pparray ? *v.pparray : nullptr) : v.parray;
        property.isArray = true;
        property.values = ArrayTexts(array, static_cast<VARTYPE>(v.vt & VT_TYPEMASK));
        return true;
    }
    std::wstring text;
    if (!ScalarText(v, text)) return false;
    property.values.push_back(std::move(text));
    return true;
}

std::wstring Text(const Instance& instance, const std::wstring& name) {
    auto it = instance.find(name);
    if (it == instance.end() || it->second.isArray || it->second.values.empty()) return L"";
    return it->second.values.front();
}

void AddRow(ui::ListView& list, const ui::ImageList& images, const std::wstring& label, const wchar_t* icon,
            const std::wstring& value) {
    int i = list.Add(L"", label);
    if (i == 0) return;
    if (icon) list.SetSmallIcon(i, images.IndexOf(icon));
    list.SetSubItem(i, 1, value);
}

void AddEmptyRow(ui::ListView& list) { list.Add(L"", L""); }

}  // namespace

Instance ReadInstance(IWbemClassObject* object, const std::vector<std::wstring>& properties) {
    Instance instance;
    for (const std::wstring& property : properties) {
        Property value;
        if (ReadProperty(object, property, value)) instance[property] = std::move(value);
    }
    return instance;
}

bool WmiSource::InstancesOf(const std::wstring& className, const std::vector<std::wstring>& properties,
                            std::vector<Instance>& instances) {
    win::ComPtr<IWbemLocator> locator;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                locator.PutVoid())))
        return false;
    win::ComPtr<IWbemServices> services;
    win::Bstr space(L"ROOT\\CIMV2");
    if (FAILED(locator->ConnectServer(space.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.Put())))
        return false;
    CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    win::ComPtr<IEnumWbemClassObject> objects;
    win::Bstr name(className);
    if (FAILED(services->CreateInstanceEnum(name.Get(), WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY, nullptr,
                                            objects.Put())))
        return false;
    for (bool first = true;; first = false) {
        win::ComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        HRESULT hr = objects->Next(static_cast<LONG>(WBEM_INFINITE), 1, object.Put(), &returned);
        if (FAILED(hr) && first) return false;  // nothing could be enumerated
        if (hr != WBEM_S_NO_ERROR || returned == 0 || !object) break;
        instances.push_back(ReadInstance(object.Get(), properties));
    }
    return true;
}

WmiSource& WmiSource::Platform() {
    static WmiSource platform;
    return platform;
}

void ShowSystemInfo(ui::ListView& list, const ui::ImageList& images, WmiSource& source) {
    list.BeginUpdate();
    list.Clear();

    // A class that cannot be read still shows its rows once, with empty values.
    std::vector<Instance> systems;
    if (!source.InstancesOf(L"Win32_OperatingSystem",
                            {L"Caption", L"Version", L"ServicePackMajorVersion", L"ServicePackMinorVersion",
                             L"Manufacturer"},
                            systems))
        systems.assign(1, Instance{});
    for (const Instance& os : systems) {
        AddRow(list, images, L"系统名", L"sysicon01", Text(os, L"Caption"));
        AddRow(list, images, L"版本号", L"sysicon02", Text(os, L"Version"));
        std::wstring major = Text(os, L"ServicePackMajorVersion"), minor = Text(os, L"ServicePackMinorVersion");
        AddRow(list, images, L"Service Pack", L"sysicon02",
               major.empty() && minor.empty() ? L"" : major + L"." + minor);
        AddRow(list, images, L"制造商", L"sysicon03", Text(os, L"Manufacturer"));
    }
    AddEmptyRow(list);

    std::vector<Instance> computers;
    if (!source.InstancesOf(L"Win32_ComputerSystem",
                            {L"Name", L"SystemType", L"Model", L"Manufacturer", L"PrimaryOwnerName", L"UserName",
                             L"Domain", L"Workgroup", L"SystemStartupOptions"},
                            computers))
        computers.assign(1, Instance{});
    for (const Instance& pc : computers) {
        AddRow(list, images, L"计算机名", L"sysicon04", Text(pc, L"Name"));
        AddRow(list, images, L"计算机类型", L"sysicon05", Text(pc, L"SystemType"));
        AddRow(list, images, L"计算机型号", L"sysicon05", Text(pc, L"Model"));
        AddRow(list, images, L"生产商", L"sysicon03", Text(pc, L"Manufacturer"));
        AddEmptyRow(list);
        AddRow(list, images, L"注册给", L"sysicon06", Text(pc, L"PrimaryOwnerName"));
        AddRow(list, images, L"当前用户", L"sysicon07", Text(pc, L"UserName"));
        // Where the workgroup property does not exist the domain property
        // holds the workgroup's name: so the workgroup row shows the domain.
        AddRow(list, images, L"工作组", L"sysicon08", Text(pc, L"Domain"));
        AddRow(list, images, L"域", L"sysicon08", Text(pc, L"Workgroup"));
        AddEmptyRow(list);
        auto options = pc.find(L"SystemStartupOptions");
        if (options == pc.end() || !options->second.isArray) {
            AddRow(list, images, L"启动项1", L"sysicon09", L"");  // the list could not be read
        } else {
            int n = 0;
            for (const std::wstring& option : options->second.values)
                AddRow(list, images, L"启动项" + std::to_wstring(++n), L"sysicon09", option);
        }
    }
    list.EndUpdate();
}

}  // namespace modSystemInfo
