#include "support/cluster.h"

#include "support/process.h"

#include <cstdlib>
#include <stdexcept>
#include <unistd.h>

namespace {

TestCluster gCluster;

const std::string kScript = std::string(ROLEGATE_SOURCE_DIR) + "/scripts/pg-cluster.sh";

} // namespace

const TestCluster& testCluster() {
    return gCluster;
}

void runSuperuserSql(const std::string& sql) {
    const ProcessResult result =
        runProcess({"psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p",
                    gCluster.port, "-U", "postgres", "-d", "postgres", "-f", "-"},
                   sql, {{"PGPASSWORD", gCluster.superuserPassword}});
    ASSERT_EQ(result.exitCode, 0) << result.errors;
}

void ClusterEnvironment::SetUp() {
    char pattern[] = "/tmp/rolegate-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    gCluster.dir = pattern;
    gCluster.socketDir = gCluster.dir + "/socket";
    gCluster.superuserPassword = "super-secret-4711";
    const ProcessResult started =
        runProcess({kScript, "start", gCluster.dir, gCluster.superuserPassword}, "");
    ASSERT_EQ(started.exitCode, 0) << started.errors;
    gCluster.port = started.output.substr(0, started.output.find('\n'));
    runSuperuserSql(setupSql_);
}

void ClusterEnvironment::TearDown() {
    if (!gCluster.dir.empty())
        runProcess({kScript, "stop", gCluster.dir}, "");
}

int newestInstalledPsqlVersion() {
    for (int version = 16; version >= 12; --version)
        if (access(("/usr/lib/postgresql/" + std::to_string(version) + "/bin/psql").c_str(),
                   X_OK) == 0)
            return version;
    return 0;
}
