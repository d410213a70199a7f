// The system-information rows: from Wine's own WMI, from a source that lacks
// classes and properties the way older or stripped systems do, and the values
// of one WMI object as the page shows them.
#include <gtest/gtest.h>
#include <windows.h>
#include <wbemcli.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/ui/ListView.h"
#include "platform/win/Com.h"
#include "sysaccess/modSystemInfo.h"

using modSystemInfo::Instance;
using modSystemInfo::Property;

namespace {

Property Scalar(const std::wstring& v) { return Property{false, {v}}; }

// Answers with the instances it was given; a class it has none for cannot be bound.
class FakeWmi : public modSystemInfo::WmiSource {
public:
    std::map<std::wstring, std::vector<Instance>> classes;
    bool InstancesOf(const std::wstring& className, const std::vector<std::wstring>&,
                     std::vector<Instance>& instances) override {
        auto it = classes.find(className);
        if (it == classes.end()) return false;
        instances = it->second;
        return true;
    }
};

class SystemInfo : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 600, 500, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        list.Create(window_, 1, RECT{0, 0, 580, 480});
        list.AddColumn(L"类型", 2646, ui::Align::Left);
        list.AddColumn(L"值", 10583, ui::Align::Left);
        for (int n = 1; n <= 9; ++n) images.Add(L"sysicon0" + std::to_wstring(n), LoadIconW(nullptr, IDI_APPLICATION));
        list.SetImageList(images);
    }
    void TearDown() override { DestroyWindow(window_); }

    std::vector<std::wstring> Labels() const {
        std::vector<std::wstring> out;
        for (int i = 1; i <= list.Count(); ++i) out.push_back(list.Text(i));
        return out;
    }
    std::wstring Value(const std::wstring& label) const {
        for (int i = 1; i <= list.Count(); ++i)
            if (list.Text(i) == label) return list.SubItem(i, 1);
        ADD_FAILURE() << "no row";
        return L"?";
    }
    int Icon(const std::wstring& label) const {
        for (int i = 1; i <= list.Count(); ++i)
            if (list.Text(i) == label) return list.SmallIcon(i);
        return -2;
    }

    win::ComApartment com;
    HWND window_ = nullptr;
    ui::ListView list;
    ui::ImageList images{16, 16};
};

const std::vector<std::wstring> kOneOfEach = {
    L"系统名", L"版本号", L"Service Pack", L"制造商", L"",   L"计算机名", L"计算机类型", L"计算机型号", L"生产商",
    L"",      L"注册给", L"当前用户",     L"工作组", L"域", L"",         L"启动项1"};

}  // namespace

TEST_F(SystemInfo, WinesOwnWmiGivesEveryRowWithTheSystemAndComputerNames) {
    list.Add(L"", L"old row");
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    modSystemInfo::ShowSystemInfo(list, images);
    QueryPerformanceCounter(&b);
    std::printf("system information: %.1f ms, %d rows\n", (b.QuadPart - a.QuadPart) * 1000.0 / f.QuadPart,
                list.Count());
    for (int i = 1; i <= list.Count(); ++i)
        std::printf("  %ls = %ls\n", list.Text(i).c_str(), list.SubItem(i, 1).c_str());

    // Wine lacks the start-up options: their one row stands with no value.
    EXPECT_EQ(Labels(), kOneOfEach);
    EXPECT_FALSE(Value(L"系统名").empty());
    EXPECT_FALSE(Value(L"版本号").empty());
    EXPECT_FALSE(Value(L"计算机名").empty());
    EXPECT_EQ(Icon(L"系统名"), images.IndexOf(L"sysicon01"));
    EXPECT_EQ(Icon(L"启动项1"), images.IndexOf(L"sysicon09"));
    EXPECT_EQ(list.SmallIcon(5), -1) << "the empty row has no icon";
}

TEST_F(SystemInfo, ValuesStandBesideTheirLabelsAndBootOptionsAreNumbered) {
    FakeWmi wmi;
    wmi.classes[L"Win32_OperatingSystem"] = {Instance{{L"Caption", Scalar(L"Windows XP")},
                                                      {L"Version", Scalar(L"5.1.2600")},
                                                      {L"ServicePackMajorVersion", Scalar(L"2")},
                                                      {L"ServicePackMinorVersion", Scalar(L"0")},
                                                      {L"Manufacturer", Scalar(L"Maker")}}};
    wmi.classes[L"Win32_ComputerSystem"] = {
        Instance{{L"Name", Scalar(L"PC1")},
                 {L"Domain", Scalar(L"WORKGROUP")},
                 {L"UserName", Scalar(L"PC1\\me")},
                 {L"SystemStartupOptions", Property{true, {L"\"XP\" /fastdetect", L"\"Safe\" /safeboot"}}}}};
    modSystemInfo::ShowSystemInfo(list, images, wmi);

    EXPECT_EQ(list.Count(), 17);  // 4 + 1 + 4 + 1 + 4 + 1 + two options
    EXPECT_EQ(Value(L"系统名"), L"Windows XP");
    EXPECT_EQ(Value(L"Service Pack"), L"2.0");
    EXPECT_EQ(Value(L"计算机名"), L"PC1");
    EXPECT_EQ(Value(L"工作组"), L"WORKGROUP") << "the workgroup row shows the domain property";
    EXPECT_EQ(Value(L"域"), L"");
    EXPECT_EQ(Value(L"计算机型号"), L"") << "a missing property leaves its cell empty";
    EXPECT_EQ(Value(L"启动项1"), L"\"XP\" /fastdetect");
    EXPECT_EQ(Value(L"启动项2"), L"\"Safe\" /safeboot");
}

TEST_F(SystemInfo, ClassesThatCannotBeReadStillGiveTheirRowsOnce) {
    FakeWmi none;
    modSystemInfo::ShowSystemInfo(list, images, none);
    EXPECT_EQ(Labels(), kOneOfEach);
    for (int i = 1; i <= list.Count(); ++i) EXPECT_EQ(list.SubItem(i, 1), L"") << i;
    EXPECT_EQ(Icon(L"计算机名"), images.IndexOf(L"sysicon04"));
}

namespace {

// A WMI object holding the values it answers Get with; the page asks it for nothing else.
class FakeObject : public IWbemClassObject {
public:
    ~FakeObject() {
        for (auto& [name, v] : values_) VariantClear(&v);
    }
    void Set(const std::wstring& name, VARIANT v) { values_[name] = v; }  // takes it over

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG, VARIANT* out, CIMTYPE*, LONG*) override {
        auto it = values_.find(name);
        if (it == values_.end()) return WBEM_E_NOT_FOUND;
        VariantInit(out);
        return VariantCopy(out, &it->second);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** p) override { return *p = nullptr, E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override { return E_NOTIMPL; }

private:
    std::map<std::wstring, VARIANT> values_;
};

VARIANT Number(VARTYPE type, LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    VariantChangeType(&v, &v, 0, type);
    return v;
}
VARIANT Null() {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_NULL;
    return v;
}
VARIANT Bstr(const wchar_t* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}
// A one-dimensional array of the values, as elements of the given type.
VARIANT Array(VARTYPE type, std::vector<VARIANT> elements) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | type;
    v.parray = SafeArrayCreateVector(type, 0, static_cast<ULONG>(elements.size()));
    for (LONG i = 0; i < static_cast<LONG>(elements.size()); ++i) {
        VARIANT& e = elements[static_cast<size_t>(i)];
        SafeArrayPutElement(v.parray, &i, type == VT_VARIANT ? static_cast<void*>(&e)
                                          : type == VT_BSTR  ? static_cast<void*>(e.bstrVal)
                                                             : static_cast<void*>(&e.lVal));
        VariantClear(&e);
    }
    return v;
}

// An instance as one line: name=value; arrays as name[]=a|b.
std::wstring Show(const Instance& instance) {
    std::wstring out;
    for (const auto& [name, p] : instance) {
        out += name + (p.isArray ? L"[]=" : L"=");
        for (size_t i = 0; i < p.values.size(); ++i) out += (i ? L"|" : L"") + p.values[i];
        out += L";";
    }
    return out;
}

}  // namespace

TEST(SystemInfoObject, ValuesAreReadAsTheirTextAndNullOrMissingOnesAreLeftOut) {
    FakeObject object;
    object.Set(L"Caption", Bstr(L"Windows XP"));
    object.Set(L"ServicePackMajorVersion", Number(VT_I4, 2));  // WMI's uint16 and uint32
    object.Set(L"ServicePackMinorVersion", Number(VT_UI1, 0));  // and its uint8
    object.Set(L"Version", VARIANT{});                           // VT_EMPTY
    object.Set(L"Model", Null());
    object.Set(L"Infrared", Number(VT_BOOL, -1));
    object.Set(L"SystemStartupOptions", Array(VT_BSTR, {Bstr(L"\"XP\" /fastdetect"), Bstr(L"")}));
    object.Set(L"Roles", Array(VT_VARIANT, {Bstr(L"Server"), Number(VT_I4, 7)}));
    object.Set(L"Codes", Array(VT_I4, {Number(VT_I4, 1), Number(VT_I4, -20)}));
    object.Set(L"NoOptions", Array(VT_BSTR, {}));
    const Instance read = modSystemInfo::ReadInstance(
        &object, {L"Caption", L"ServicePackMajorVersion", L"ServicePackMinorVersion", L"Version", L"Model",
                  L"Manufacturer", L"Infrared", L"SystemStartupOptions", L"Roles", L"Codes", L"NoOptions"});
    EXPECT_EQ(Show(read), L"Caption=Windows XP;Codes[]=1|-20;Infrared=True;NoOptions[]=;Roles[]=Server|7;"
                          L"ServicePackMajorVersion=2;ServicePackMinorVersion=0;"
                          L"SystemStartupOptions[]=\"XP\" /fastdetect|;");
}
