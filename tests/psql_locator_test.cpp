#include "discovery/psql_locator.h"

#include "support/cluster.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(ForVersion, ReplacesEveryPlaceholder) {
    EXPECT_EQ(forVersion("a{N}b{N}", 16), "a16b16");
    EXPECT_EQ(forVersion("none", 12), "none");
    EXPECT_EQ(forVersion(windowsPsqlSearch().installationProbe, 16),
              "FOR /F \"tokens=3*\" %a in ('\"\"{SYSTEM}\\reg.exe\" Query "
              "HKLM\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-x64-16\\ /v \"Base "
              "Directory\"\"') DO @echo %b");
    EXPECT_EQ(forVersion(windowsPsqlSearch().missMessage, 13),
              "Unable to retrieve psql executable path from "
              "HKLM\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-x64-13\\");
}

// Installations laid out under a temporary root, found by the same kind of probe
// that looks in the system's directories.
class PsqlLocator : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/rolegate-locator-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        search_ = posixPsqlSearch();
        search_.pathProbe = "true";
        search_.installationProbe = "for d in " + root_ + "/first/{N} " + root_ +
                                    "/second/{N}; do if [ -x \"$d/bin/psql\" ]; then echo "
                                    "\"$d\"; break; fi; done";
    }
    void TearDown() override {
        fs::remove_all(root_);
    }
    void install(const std::string& where, bool executable = true) {
        fs::create_directories(root_ + "/" + where + "/bin");
        std::ofstream(root_ + "/" + where + "/bin/psql") << "#!/bin/sh\n";
        if (executable)
            fs::permissions(root_ + "/" + where + "/bin/psql", fs::perms::owner_all);
    }
    int locate(std::string& path, std::string& printed) {
        testing::internal::CaptureStdout();
        const int status = locatePsql(path, search_);
        printed = testing::internal::GetCapturedStdout();
        return status;
    }
    std::string missLine(int version) {
        return forVersion(search_.missMessage, version) + "\n";
    }

    std::string root_;
    PsqlSearch search_;
};

TEST_F(PsqlLocator, OnTheSearchPathNothingIsProbedOrChanged) {
    install("first/16");
    search_.pathProbe = "echo /usr/bin/psql";
    std::string path = "psql", printed;
    EXPECT_EQ(locate(path, printed), 0);
    EXPECT_EQ(path, "psql");
    EXPECT_EQ(printed, "");
}

TEST_F(PsqlLocator, NewestInstallationWinsAfterTheMissesAbove) {
    install("second/14");
    install("first/13");
    install("first/15", false); // not executable: not an installation
    std::string path = "psql", printed;
    EXPECT_EQ(locate(path, printed), 0);
    EXPECT_EQ(path, root_ + "/second/14\n/bin/psql");
    EXPECT_EQ(printed, missLine(16) + missLine(15));
}

TEST_F(PsqlLocator, OnlyVersionsSixteenToTwelveAreProbed) {
    install("first/17");
    install("first/11");
    std::string path = "psql", printed;
    EXPECT_EQ(locate(path, printed), 1);
    EXPECT_EQ(path, "psql");
    EXPECT_EQ(printed, missLine(16) + missLine(15) + missLine(14) + missLine(13) + missLine(12));
}

TEST(PosixPsqlSearch, FindsTheInstalledPostgresql) {
    const int newest = newestInstalledPsqlVersion();
    if (newest == 0)
        GTEST_SKIP() << "no PostgreSQL client under /usr/lib/postgresql";
    PsqlSearch search = posixPsqlSearch();
    search.pathProbe = "true"; // as if psql were not on the search path
    std::string path = "psql";
    testing::internal::CaptureStdout();
    EXPECT_EQ(locatePsql(path, search), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(path, "/usr/lib/postgresql/" + std::to_string(newest) + "\n/bin/psql");
}

} // namespace
