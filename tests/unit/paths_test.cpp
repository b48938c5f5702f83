#include "locations/paths.h"

#include <gtest/gtest.h>

#include <string>

#include "locations/web_addresses.h"

TEST(InstallFolder, MissingValueGivesDefault) {
    EXPECT_EQ(InstallFolderFromValue(std::nullopt), "C:\\Program Files (x86)\\Orlivan\\");
}

TEST(InstallFolder, ValueIsTakenUpToItsTerminator) {
    EXPECT_EQ(InstallFolderFromValue(u"D:\\Filter\\"), "D:\\Filter\\");
    // Registry data often carries its terminator, sometimes more after it.
    const std::u16string stored(u"D:\\Filter\\\0junk", 15);
    EXPECT_EQ(InstallFolderFromValue(stored), "D:\\Filter\\");
    // An empty value is an empty folder, not the default.
    EXPECT_EQ(InstallFolderFromValue(u""), "");
}

TEST(InstallFolder, AtMost499UnitsFit) {
    const std::u16string fits = u"C:\\" + std::u16string(495, u'a') + u"\\";
    ASSERT_EQ(fits.size(), 499u);
    EXPECT_EQ(InstallFolderFromValue(fits).size(), 499u);

    // 500 units read without a terminator (exactly the 1000-byte buffer).
    const std::u16string tooLong = fits + u"b";
    EXPECT_EQ(InstallFolderFromValue(tooLong), std::string(DEFAULT_INSTALL_PATH));
    EXPECT_EQ(InstallFolderFromValue(tooLong + std::u16string(1, u'\0')),
              std::string(DEFAULT_INSTALL_PATH));
}

TEST(InstallFolder, NonAsciiFolderStaysIntactAsUtf8) {
    // "C:\Programme\Zoë\" and a CJK folder: every character survives.
    EXPECT_EQ(InstallFolderFromValue(u"C:\\Programme\\Zo\u00EB\\"), "C:\\Programme\\Zo\xC3\xAB\\");
    EXPECT_EQ(InstallFolderFromValue(u"C:\\\u7BA1\u7406\\"), "C:\\\xE7\xAE\xA1\xE7\x90\x86\\");
    // 499 units of a non-ASCII letter still fit although they take more bytes.
    const std::u16string wide(499, u'\u00EB');
    EXPECT_EQ(InstallFolderFromValue(wide).size(), 998u);
}

TEST(SettingsProgram, FollowsInstallFolderWithoutSeparator) {
    EXPECT_EQ(SettingsProgramPath("C:\\Program Files (x86)\\Orlivan\\"),
              "C:\\Program Files (x86)\\Orlivan\\User Interface Files\\OrlivanUi.exe");
    // A folder without its trailing backslash runs into the next name.
    EXPECT_EQ(SettingsProgramPath("D:\\Filter"), "D:\\FilterUser Interface Files\\OrlivanUi.exe");
    EXPECT_EQ(SettingsProgramPath(InstallFolderFromValue(u"E:\\Zo\u00EB\\")),
              "E:\\Zo\xC3\xAB\\User Interface Files\\OrlivanUi.exe");
}

TEST(LogLocation, InProfileFolderOrAtDriveRoot) {
    EXPECT_EQ(LogFolderPath("C:\\users\\zoe"), "C:\\users\\zoe\\OrlivanLog");
    EXPECT_EQ(LogFilePath("C:\\users\\zoe"), "C:\\users\\zoe\\OrlivanLog\\OrlivanSysTray.log");
    EXPECT_EQ(LogFolderPath(""), "\\OrlivanLog");
    EXPECT_EQ(LogFilePath(""), "\\OrlivanLog\\OrlivanSysTray.log");
    EXPECT_EQ(LogFilePath("C:\\Users\\Zo\xC3\xAB"),
              "C:\\Users\\Zo\xC3\xAB\\OrlivanLog\\OrlivanSysTray.log");
}

TEST(WebAddresses, HostsAndPathsJoinIntoHttpsAddresses) {
    EXPECT_STREQ(
        URL_ONLINE_HELP_WINDOWS.data(),
        "https://content.orlivan.com/content/how-setup-internet-parental-controls-windows-7");
    EXPECT_STREQ(URL_ONLINE_HELP_LINUX.data(),
                 "https://content.orlivan.com/content/how-setup-internet-parental-controls-linux");
#if defined(_WIN32)
    EXPECT_EQ(URL_ONLINE_HELP.data(), URL_ONLINE_HELP_WINDOWS.data());
#else
    EXPECT_EQ(URL_ONLINE_HELP.data(), URL_ONLINE_HELP_LINUX.data());
#endif
    EXPECT_STREQ(URL_CONTACT.data(), "https://www.orlivan.com/contact");
    EXPECT_STREQ(URL_INSTALLER_AMD64.data(),
                 "https://download.orlivan.com/windows7/amd64/OrlivanUpdate_amd64.exe");
    EXPECT_STREQ(URL_INSTALLER_X86.data(),
                 "https://download.orlivan.com/windows7/x86/OrlivanUpdate_x86.exe");
    // The text fills its array exactly: nothing stray after the terminator.
    EXPECT_EQ(std::string(URL_CONTACT.data()).size() + 1, URL_CONTACT.size());
}
