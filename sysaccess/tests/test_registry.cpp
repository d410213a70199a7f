// Registry helpers against the test prefix's own registry.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/vb/VbError.h"
#include "sysaccess/modReg.h"

namespace {

const wchar_t* kKey = L"Software\\MorvixTests\\Registry";

bool KeyExists(const std::wstring& key) {
    HKEY k;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

std::vector<BYTE> Raw(const std::wstring& name, DWORD* type) {
    std::vector<BYTE> data(256);
    DWORD size = static_cast<DWORD>(data.size());
    if (RegGetValueW(HKEY_CURRENT_USER, kKey, name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, type, data.data(), &size) !=
        ERROR_SUCCESS)
        return {};
    data.resize(size);
    return data;
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\MorvixTests"); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\MorvixTests"); }
};

}  // namespace

TEST(DoubleToHex8, Digits) {
    EXPECT_EQ(modReg::DoubleToHex8(0), L"00000000");
    EXPECT_EQ(modReg::DoubleToHex8(255), L"000000FF");
    EXPECT_EQ(modReg::DoubleToHex8(4294967295.0), L"FFFFFFFF");
    EXPECT_EQ(modReg::DoubleToHex8(0x12AB34CD), L"12AB34CD");
}

TEST_F(Registry, TextIsWrittenAndReplacedAndTheKeyCreated) {
    ASSERT_FALSE(KeyExists(kKey));
    EXPECT_TRUE(modReg::SetRegistryValue(HKEY_CURRENT_USER, kKey, L"Run", std::wstring(L"\"C:\\进程\\m.exe\" /h"), REG_SZ));
    EXPECT_TRUE(modReg::SetRegistryValue(HKEY_CURRENT_USER, kKey, L"Run", std::wstring(L"second"), REG_SZ));
    DWORD type = 0;
    auto data = Raw(L"Run", &type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data())), L"second");
}

TEST_F(Registry, DwordIsWrittenLeastSignificantByteFirstAndRangeChecked) {
    EXPECT_TRUE(modReg::SetRegistryValue(HKEY_CURRENT_USER, kKey, L"D", 0x11223344 * 1.0, REG_DWORD));
    DWORD type = 0;
    auto data = Raw(L"D", &type);
    ASSERT_EQ(data.size(), 4u);
    EXPECT_EQ(data[0], 0x44);
    EXPECT_EQ(data[3], 0x11);
    EXPECT_FALSE(modReg::SetRegistryValue(HKEY_CURRENT_USER, kKey, L"Neg", -1.0, REG_DWORD));
    EXPECT_FALSE(modReg::SetRegistryValue(HKEY_CURRENT_USER, kKey, L"Big", 4294967296.0, REG_DWORD));
    Raw(L"Neg", &type);
    EXPECT_TRUE(Raw(L"Neg", &type).empty());
    EXPECT_TRUE(Raw(L"Big", &type).empty());
    EXPECT_THROW(modReg::SetRegistryValue(HKEY_CURRENT_USER, kKey, L"T", std::wstring(L"abc"), REG_DWORD), vb::Error);
}

TEST_F(Registry, BinaryNeedsAnArray) {
    EXPECT_TRUE(modReg::SetRegistryValue(HKEY_CURRENT_USER, kKey, L"B", std::vector<double>{1, 2, 300, 4}, REG_BINARY));
    DWORD type = 0;
    auto data = Raw(L"B", &type);
    EXPECT_EQ(data, (std::vector<BYTE>{1, 2, 0, 4})) << "an element that is no byte is written as 0";
    EXPECT_FALSE(modReg::SetRegistryValue(HKEY_CURRENT_USER, kKey, L"B2", std::wstring(L"x"), REG_BINARY));
}

TEST_F(Registry, UnsupportedTypeWritesNothingAndLeavesNoKey) {
    EXPECT_FALSE(modReg::SetRegistryValue(HKEY_CURRENT_USER, kKey, L"Q", std::wstring(L"x"), 11));
    EXPECT_FALSE(KeyExists(kKey));
    EXPECT_FALSE(modReg::SetRegistryValue(HKEY_CURRENT_USER, kKey, L"Neg", -5.0, REG_DWORD));
    EXPECT_FALSE(KeyExists(kKey));
}

TEST_F(Registry, DeleteReportsWhetherItDeleted) {
    EXPECT_FALSE(modReg::DeleteRegistryValue(HKEY_CURRENT_USER, kKey, L"X")) << "no key";
    ASSERT_TRUE(modReg::SetRegistryValue(HKEY_CURRENT_USER, kKey, L"X", std::wstring(L"1"), REG_SZ));
    EXPECT_FALSE(modReg::DeleteRegistryValue(HKEY_CURRENT_USER, kKey, L"Other")) << "no value";
    EXPECT_TRUE(modReg::DeleteRegistryValue(HKEY_CURRENT_USER, kKey, L"X"));
    EXPECT_FALSE(modReg::DeleteRegistryValue(HKEY_CURRENT_USER, kKey, L"X"));
}

TEST_F(Registry, MachineRunValueRoundTrip) {
    const wchar_t* run = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    EXPECT_TRUE(modReg::SetRegistryValue(HKEY_LOCAL_MACHINE, run, L"MorvixTest_Run", std::wstring(L"\"x.exe\" /h"), REG_SZ));
    EXPECT_TRUE(modReg::DeleteRegistryValue(HKEY_LOCAL_MACHINE, run, L"MorvixTest_Run"));
}
