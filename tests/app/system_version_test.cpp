#include "system_version.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

const OsRecord kDebian{"Linux", "6.1.0-18-amd64", "x86_64", "Debian GNU/Linux 12 (bookworm)"};
const std::string kOsPart = "Linux: V 6.1.0-18-amd64, machine: x86_64, Debian GNU/Linux 12 (bookworm)\r\n\r\n";

TEST(SystemVersion, ReportsTheSystemThenTheProgram) {
    const CSystemVersion report(kDebian, {"Mivex", "Copyright (C) 2026 KordO", "1.2.3", "1.2.3.4"});
    EXPECT_EQ(report.m_strSystem, kOsPart +
                                      "Mivex\r\n\r\n"
                                      "Copyright (C) 2026 KordO\r\n"
                                      "Program version: 1.2.3\r\n"
                                      "1.2.3.4\r\n");
    EXPECT_EQ(report.m_strVersion, "1.2.3");
}

TEST(SystemVersion, MissingVersionDataLeavesOnlyWhatIsKnown) {
    const CSystemVersion none(kDebian, {});
    EXPECT_EQ(none.m_strSystem, kOsPart);
    EXPECT_EQ(none.m_strVersion, "");

    // Missing entries are skipped with their line ends; the label stays.
    const CSystemVersion partial(kDebian, {"Mivex", "", "", "9"});
    EXPECT_EQ(partial.m_strSystem, kOsPart + "Mivex\r\n\r\nProgram version: 9\r\n");
    EXPECT_EQ(partial.m_strVersion, "");

    const CSystemVersion noDistribution({{"Linux", "6.1", "aarch64", ""}}, {});
    EXPECT_EQ(noDistribution.m_strSystem, "Linux: V 6.1, machine: aarch64\r\n\r\n");

    const CSystemVersion unknownSystem(std::nullopt, {"Mivex", "c", "1", "1"});
    EXPECT_EQ(unknownSystem.m_strSystem, "No system info found");
    EXPECT_EQ(unknownSystem.m_strVersion, "");
}

TEST(SystemVersion, ThisBuildCarriesItsProjectVersion) {
    const CSystemVersion report;
    EXPECT_EQ(report.m_strVersion, MIVEX_TEST_PROJECT_VERSION);
    EXPECT_NE(report.m_strSystem.find("Program version: " MIVEX_TEST_PROJECT_VERSION "\r\n"), std::string::npos);
    EXPECT_EQ(report.m_strSystem.rfind("Linux: V ", 0), 0u) << report.m_strSystem;
}

TEST(SystemVersion, ReadsTheDistributionNameFromOsRelease) {
    test::TempDir dir;
    const auto file = dir.path() / "os-release";
    test::WriteFile(file, "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n");
    EXPECT_EQ(OsReleaseName(file), "Debian GNU/Linux 12 (bookworm)");
    test::WriteFile(file, "NAME='Some \\\"Linux\\\"'\nID=some\n");
    EXPECT_EQ(OsReleaseName(file), "Some \"Linux\"");
    test::WriteFile(file, "NAME=plain\n");
    EXPECT_EQ(OsReleaseName(file), "plain");
    EXPECT_EQ(OsReleaseName(dir.path() / "absent"), "");
}

}  // namespace
