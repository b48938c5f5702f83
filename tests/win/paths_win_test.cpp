// Reading the install and profile folders from the registry. The test process
// sees scratch keys in place of HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, so
// the machine's own values are neither read nor changed.
#include "locations/paths.h"
#include "locations/paths_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

class RegistryPaths : public ::testing::Test {
protected:
    void SetUp() override {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\OrlivanTest\\Machine", 0,
                                    nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_machine, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\OrlivanTest\\User", 0, nullptr,
                                    0, KEY_ALL_ACCESS, nullptr, &m_user, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegOverridePredefKey(HKEY_LOCAL_MACHINE, m_machine), ERROR_SUCCESS);
        ASSERT_EQ(::RegOverridePredefKey(HKEY_CURRENT_USER, m_user), ERROR_SUCCESS);
    }

    void TearDown() override {
        ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        ::RegCloseKey(m_machine);
        ::RegCloseKey(m_user);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
    }

    // Stores `text` as a string value, with `extraBytes` of its terminator.
    void Store(HKEY root, const wchar_t* subkey, const wchar_t* name, const std::wstring& text,
               DWORD terminatorBytes = sizeof(wchar_t)) {
        HKEY key = nullptr;
        ASSERT_EQ(
            ::RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t)) + terminatorBytes;
        EXPECT_EQ(::RegSetValueExW(key, name, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(text.c_str()), bytes),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
    }

    void StoreInstallPath(const std::wstring& text, DWORD terminatorBytes = sizeof(wchar_t)) {
        Store(m_machine, L"SOFTWARE\\Orlivan", L"Install Path", text, terminatorBytes);
    }

    static constexpr const wchar_t* kScratch = L"Software\\OrlivanTest";
    HKEY m_machine = nullptr;
    HKEY m_user = nullptr;
};

}  // namespace

TEST_F(RegistryPaths, InstallFolderOrItsDefault) {
    EXPECT_EQ(ReadInstallPath(), "C:\\Program Files (x86)\\Orlivan\\");

    StoreInstallPath(L"D:\\Filter\\");
    EXPECT_EQ(ReadInstallPath(), "D:\\Filter\\");

    StoreInstallPath(L"C:\\Programme\\Zo\u00EB\\");
    EXPECT_EQ(ReadInstallPath(), "C:\\Programme\\Zo\xC3\xAB\\");
}

TEST_F(RegistryPaths, InstallFolderOf499UnitsFitsLongerOnesGiveTheDefault) {
    const std::wstring fits = L"C:\\" + std::wstring(495, L'a') + L"\\";
    ASSERT_EQ(fits.size(), 499u);
    StoreInstallPath(fits);
    EXPECT_EQ(ReadInstallPath().size(), 499u);

    // 500 units stored without a terminator fill the 1000 bytes exactly.
    StoreInstallPath(fits + L"b", 0);
    EXPECT_EQ(ReadInstallPath(), "C:\\Program Files (x86)\\Orlivan\\");

    StoreInstallPath(fits + L"b");  // 1002 bytes: too long to read
    EXPECT_EQ(ReadInstallPath(), "C:\\Program Files (x86)\\Orlivan\\");
}

TEST_F(RegistryPaths, ProfileFolderOrEmpty) {
    EXPECT_EQ(GetUserProfileDir(), u"");
    Store(m_user, L"Volatile Environment", L"USERPROFILE", L"C:\\users\\Zo\u00EB");
    EXPECT_EQ(GetUserProfileDir(), u"C:\\users\\Zo\u00EB");
}
