#include "sysaccess/modReg.h"

#include <cmath>

#include "platform/vb/VbError.h"
#include "platform/win/Handle.h"

namespace modReg {

namespace {

constexpr REGSAM kAccess = 0x2003F;  // KEY_ALL_ACCESS without the standard delete/owner rights

std::wstring AsText(const RegValue& value) {
    if (auto* s = std::get_if<std::wstring>(&value)) return *s;
    if (auto* d = std::get_if<double>(&value)) {
        double whole;
        if (std::modf(*d, &whole) == 0.0 && std::fabs(*d) < 1e15)
            return std::to_wstring(static_cast<long long>(*d));
        return std::to_wstring(*d);
    }
    throw vb::Error(13);
}

double AsNumber(const RegValue& value) {
    if (auto* d = std::get_if<double>(&value)) return *d;
    if (auto* s = std::get_if<std::wstring>(&value)) {
        size_t used = 0;
        try {
            double d = std::stod(*s, &used);
            if (s->find_first_not_of(L' ', used) == std::wstring::npos) return d;
        } catch (...) {
        }
    }
    throw vb::Error(13);
}

}  // namespace

bool SetRegistryValue(HKEY hKey, const std::wstring& subKey, const std::wstring& valueName,
                      const RegValue& value, long valueType) {
    std::vector<BYTE> data;
    DWORD type = static_cast<DWORD>(valueType);
    // Build the data first: an unsupported type or an out-of-range number must
    // not leave a freshly created key behind.
    switch (valueType) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ: {
        std::wstring text = AsText(value);
        text.push_back(L'\0');
        if (valueType == REG_MULTI_SZ) text.push_back(L'\0');
        auto* p = reinterpret_cast<const BYTE*>(text.c_str());
        data.assign(p, p + text.size() * sizeof(wchar_t));
        break;
    }
    case REG_BINARY: {
        auto* array = std::get_if<std::vector<double>>(&value);
        if (!array) return false;
        for (double element : *array)
            data.push_back(element >= 0 && element <= 255 ? static_cast<BYTE>(std::lround(element)) : 0);
        break;
    }
    case REG_DWORD: {
        double number = AsNumber(value);
        if (number < 0 || number > 4294967295.0) return false;
        std::wstring hex = DoubleToHex8(number);
        for (int pair = 3; pair >= 0; --pair)  // least significant byte first
            data.push_back(static_cast<BYTE>(std::stoul(hex.substr(static_cast<size_t>(pair) * 2, 2), nullptr, 16)));
        break;
    }
    default:
        return false;
    }

    std::wstring keyClass = std::to_wstring(valueType);
    win::RegKey key;
    DWORD disposition = 0;
    if (RegCreateKeyExW(hKey, subKey.c_str(), 0, keyClass.data(), 0, kAccess, nullptr, key.put(),
                        &disposition) != ERROR_SUCCESS)
        return false;
    return RegSetValueExW(key.get(), valueName.c_str(), 0, type, data.data(),
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool DeleteRegistryValue(HKEY hKey, const std::wstring& subKey, const std::wstring& valueName) {
    win::RegKey key;
    if (RegOpenKeyExW(hKey, subKey.c_str(), 0, kAccess, key.put()) != ERROR_SUCCESS) return false;
    return RegDeleteValueW(key.get(), valueName.c_str()) == ERROR_SUCCESS;
}

std::wstring DoubleToHex8(double x) {
    std::wstring out(8, L' ');
    for (int position = 7; position >= 0; --position) {
        double digit = x - std::floor(x / 16) * 16;
        int d = static_cast<int>(digit);
        out[static_cast<size_t>(position)] = static_cast<wchar_t>(d < 10 ? L'0' + d : L'A' + d - 10);
        x = std::floor(x / 16);
    }
    return out;
}

}  // namespace modReg
