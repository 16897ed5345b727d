#include "discovery/psql_locator.h"

#include "support/cluster.h"
#include "system/command.h"
#include "system/program.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

namespace {

namespace fs = std::filesystem;

// Sets PATH for one test, or removes it when `path` is null, and puts the old value
// back afterwards.
class SearchPathFor {
  public:
    explicit SearchPathFor(const char* path) : wasSet_(std::getenv("PATH") != nullptr) {
        if (wasSet_)
            old_ = std::getenv("PATH");
        if (path)
            setenv("PATH", path, 1);
        else
            unsetenv("PATH");
    }
    explicit SearchPathFor(const std::string& path) : SearchPathFor(path.c_str()) {}
    ~SearchPathFor() {
        if (wasSet_)
            setenv("PATH", old_.c_str(), 1);
        else
            unsetenv("PATH");
    }

  private:
    bool wasSet_;
    std::string old_;
};

void writeScript(const fs::path& file, const std::string& text, bool executable = true) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "#!/bin/sh\n" << text << "\n";
    if (executable)
        fs::permissions(file, fs::perms::owner_all);
}

TEST(ForVersion, ReplacesEveryPlaceholder) {
    EXPECT_EQ(forVersion("a{N}b{N}", 16), "a16b16");
    EXPECT_EQ(forVersion("none", 12), "none");
    EXPECT_EQ(forVersion(windowsPsqlSearch().baseDirectoryProbe, 16),
              "FOR /F \"tokens=3*\" %a in ('\"\"{SYSTEM}\\reg.exe\" Query "
              "HKLM\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-x64-16\\ /v \"Base "
              "Directory\"\"') DO @echo %b");
    EXPECT_EQ(forVersion(windowsPsqlSearch().missMessage, 13),
              "Unable to retrieve psql executable path from "
              "HKLM\\SOFTWARE\\PostgreSQL\\Installations\\postgresql-x64-13\\");
}

// Installations laid out under a temporary root, found in folders given as the
// system's are.
class PsqlLocator : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/rolegate-locator-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        search_ = posixPsqlSearch();
        fs::create_directories(root_ + "/path");
        searchPath_ = std::make_unique<SearchPathFor>(root_ + "/path");
        search_.installationFolders = {root_ + "/first/{N}", root_ + "/second/pgsql-{N}"};
    }
    void TearDown() override {
        searchPath_.reset();
        fs::remove_all(root_);
    }
    void install(const std::string& where, bool executable = true) {
        writeScript(root_ + "/" + where + "/bin/psql", "", executable);
    }
    // locatePsql, with its miss lines as the driver prints them.
    int locate(std::string& path, std::string& printed) {
        std::vector<std::string> misses;
        const int status = locatePsql(search_, path, misses);
        printed.clear();
        for (const std::string& miss : misses)
            printed += miss + "\n";
        return status;
    }
    std::string missLine(int version) {
        return forVersion(search_.missMessage, version) + "\n";
    }

    std::string root_;
    PsqlSearch search_;
    std::unique_ptr<SearchPathFor> searchPath_;
};

TEST_F(PsqlLocator, OnTheSearchPathNothingIsProbedAndThatFileRuns) {
    install("first/16");
    writeScript(root_ + "/path/psql", "");
    std::string path = "psql", printed;
    EXPECT_EQ(locate(path, printed), 0);
    EXPECT_EQ(path, root_ + "/path/psql");
    EXPECT_EQ(printed, "");
}

TEST_F(PsqlLocator, NewestInstallationWinsAfterTheMissesAbove) {
    install("second/pgsql-14");
    install("first/13");
    install("first/15", false); // not executable: not an installation
    std::string path = "psql", printed;
    EXPECT_EQ(locate(path, printed), 0);
    EXPECT_EQ(path, root_ + "/second/pgsql-14/bin/psql");
    EXPECT_EQ(printed, missLine(16) + missLine(15));
}

// Past the five misses, the newest installation above 16 there is; 11 is never used.
TEST_F(PsqlLocator, NewerInstallationsAreFoundNewestFirst) {
    install("first/17");
    install("second/pgsql-18");
    install("first/11");
    install("first/19", false); // not executable: not an installation
    std::string path = "psql", printed;
    EXPECT_EQ(locate(path, printed), 0);
    EXPECT_EQ(path, root_ + "/second/pgsql-18/bin/psql");
    EXPECT_EQ(printed, missLine(16) + missLine(15) + missLine(14) + missLine(13) + missLine(12));
    fs::remove_all(root_ + "/first/17");
    fs::remove_all(root_ + "/second/pgsql-18");
    EXPECT_EQ(locate(path, printed), 1);
}

TEST(PosixPsqlSearch, FindsTheInstalledPostgresql) {
    const int newest = newestInstalledPsqlVersion();
    if (newest == 0)
        GTEST_SKIP() << "no psql under /usr/lib/postgresql (postgresql-client)";
    const SearchPathFor noPsql("/nonexistent");
    std::string path = "psql";
    std::vector<std::string> misses;
    EXPECT_EQ(locatePsql(posixPsqlSearch(), path, misses), 0);
    EXPECT_EQ(path, "/usr/lib/postgresql/" + std::to_string(newest) + "/bin/psql");
}

// The file found must be the one the shell would run for the bare name, and none
// where the shell runs none.
TEST(ProgramOnSearchPath, FindsTheFileTheShellRuns) {
    char pattern[] = "/tmp/rolegate-search-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path root = pattern;
    writeScript(root / "plain" / "psql", "echo plain", false);
    fs::create_directories(root / "folder" / "psql");
    writeScript(root / "option%func" / "psql", "echo option");
    writeScript(root / "runs" / "psql", "echo runs");
    writeScript(root / "50%off" / "psql", "echo off");
    writeScript(root / "later" / "psql", "echo later");
    writeScript(root / "psql", "echo current");
    const fs::path before = fs::current_path();
    fs::current_path(root);
    const auto found = [](const char* path) {
        const SearchPathFor searchPath(path);
        const std::string file = programOnSearchPath("psql");
        return file + " " + runCommand("exec psql 2>/dev/null");
    };
    const std::string dirs = (root / "plain").string() + ":" + (root / "folder").string() + ":" +
                             (root / "option%func").string();
    EXPECT_EQ(
        found((dirs + ":" + (root / "runs").string() + ":" + (root / "later").string()).c_str()),
        (root / "runs" / "psql").string() + " runs\n");
    EXPECT_EQ(found((dirs + "::" + (root / "runs").string()).c_str()), "./psql current\n");
    EXPECT_EQ(found(((root / "50%off").string() + ":" + (root / "runs").string()).c_str()),
              (root / "50%off" / "psql").string() + " off\n");
    EXPECT_EQ(found((dirs + ":").c_str()), "./psql current\n");
    EXPECT_EQ(found(""), "./psql current\n");
    EXPECT_EQ(found(dirs.c_str()), " ");
    // Without PATH, where dash and bash would each take a default path of their own,
    // the shell is given the one searched, where psql (postgresql-client) lies.
    {
        const SearchPathFor noPath(nullptr);
        prepareCommandEnvironment();
        const std::string file = programOnSearchPath("psql");
        EXPECT_NE(file, "");
        EXPECT_EQ(runCommand("command -v psql"), file + "\n");
    }
    fs::current_path(before);
    fs::remove_all(root);
}

} // namespace
