#include "support/cluster.h"

#include "support/process.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
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

int bindLoopbackPort(std::string& port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no free loopback port");
    port = std::to_string(ntohs(address.sin_port));
    return fd;
}

int newestInstalledPsqlVersion() {
    for (int version = 16; version >= 12; --version)
        if (access(("/usr/lib/postgresql/" + std::to_string(version) + "/bin/psql").c_str(),
                   X_OK) == 0)
            return version;
    return 0;
}
