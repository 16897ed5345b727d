#include "support/cluster.h"

#include "support/process.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

TestCluster gCluster;

const std::string kScript = std::string(ROLEGATE_SOURCE_DIR) + "/scripts/pg-cluster.sh";

// The test server's programs: those in PG_BINDIR when it is set, as scripts/pg-cluster.sh
// reads it (Homebrew keeps them off the search path), otherwise the newest installed.
std::string testServerBindir() {
    const char* const bindir = std::getenv("PG_BINDIR");
    return bindir ? bindir : "";
}

} // namespace

const TestCluster& testCluster() {
    return gCluster;
}

void runSuperuserSql(const TestCluster& cluster, const std::string& sql,
                     const std::string& database) {
    const ProcessResult result =
        runProcess({"psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p",
                    cluster.port, "-U", "postgres", "-d", database, "-f", "-"},
                   sql, {{"PGPASSWORD", cluster.superuserPassword}});
    ASSERT_EQ(result.exitCode, 0) << result.errors;
}

void runSuperuserSql(const std::string& sql) {
    runSuperuserSql(gCluster, sql);
}

void startTestCluster(TestCluster& cluster, const std::string& bindir,
                      const std::string& setupSql) {
    cluster.port.clear(); // stays so when the server does not start
    char pattern[] = "/tmp/rolegate-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    cluster.dir = pattern;
    cluster.socketDir = cluster.dir + "/socket";
    cluster.superuserPassword = "super-secret-4711";
    const ProcessResult started = runProcess(
        {kScript, "start", cluster.dir, cluster.superuserPassword}, "", {{"PG_BINDIR", bindir}});
    ASSERT_EQ(started.exitCode, 0) << started.errors;
    cluster.port = started.output.substr(0, started.output.find('\n'));
    runSuperuserSql(cluster, setupSql);
}

void stopTestCluster(const TestCluster& cluster, const std::string& bindir) {
    if (!cluster.dir.empty())
        runProcess({kScript, "stop", cluster.dir}, "", {{"PG_BINDIR", bindir}});
}

void ClusterEnvironment::SetUp() {
    startTestCluster(gCluster, testServerBindir(), setupSql_);
}

void ClusterEnvironment::TearDown() {
    stopTestCluster(gCluster, testServerBindir());
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
    const auto installed = [](int version) {
        return access(("/usr/lib/postgresql/" + std::to_string(version) + "/bin/psql").c_str(),
                      X_OK) == 0;
    };
    for (int version = 16; version >= 12; --version)
        if (installed(version))
            return version;
    // Then the releases after 16, newest first, as the folders there are named: digits
    // only, no leading zero, at most three of them.
    std::vector<int> newer;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", error)) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && name.size() <= 3 && name[0] != '0' &&
            name.find_first_not_of("0123456789") == std::string::npos && std::stoi(name) > 16)
            newer.push_back(std::stoi(name));
    }
    std::sort(newer.begin(), newer.end(), std::greater<int>());
    for (int version : newer)
        if (installed(version))
            return version;
    return 0;
}

namespace {

int connectToCluster() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(std::stoi(gCluster.port)));
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot reach the test cluster");
    return fd;
}

// One client's connection through the proxy. What the client sends is passed on
// message by message: first the untyped startup packets (length, then body), then
// typed ones (a type byte, then length and body), up to the first query.
struct Relay {
    int client;
    int server;
    std::string pending; // from the client, not yet a whole message
    bool started = false;
    bool swallowing = false;
};

void passClientMessages(Relay& relay, std::atomic<int>& queriesSwallowed) {
    for (;;) {
        const size_t header = relay.started ? 5 : 4;
        if (relay.swallowing || relay.pending.size() < header)
            return;
        const auto* bytes = reinterpret_cast<const unsigned char*>(relay.pending.data());
        const size_t at = header - 4;
        const size_t length = (size_t{bytes[at]} << 24) | (size_t{bytes[at + 1]} << 16) |
                              (size_t{bytes[at + 2]} << 8) | size_t{bytes[at + 3]};
        if (relay.started && bytes[0] == 'Q') {
            relay.swallowing = true;
            relay.pending.clear();
            ++queriesSwallowed;
            return;
        }
        if (relay.pending.size() < at + length)
            return;
        // SSL and GSS requests are answered with a single byte and come again as
        // untyped packets; the startup message (protocol 3.0) ends them.
        if (!relay.started && length >= 8 && bytes[4] == 0 && bytes[5] == 3)
            relay.started = true;
        if (write(relay.server, relay.pending.data(), at + length) < 0)
            return;
        relay.pending.erase(0, at + length);
    }
}

void serveStalling(int listener, int stopFd, std::shared_ptr<int> clientsGone,
                   std::shared_ptr<std::atomic<int>> queriesSwallowed) {
    std::vector<Relay> relays;
    // Once told to stop, the clients still there are given ten seconds to leave and be
    // counted: the end of one that has just left, or is being ended, may be on its way.
    bool stopping = false;
    std::chrono::steady_clock::time_point stopBy;
    for (;;) {
        int timeout = -1;
        if (stopping) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  stopBy - std::chrono::steady_clock::now())
                                  .count();
            if (relays.empty() || left <= 0)
                break;
            timeout = static_cast<int>(left);
        }
        std::vector<pollfd> fds = {{stopping ? -1 : stopFd, POLLIN, 0},
                                   {stopping ? -1 : listener, POLLIN, 0}};
        for (const Relay& relay : relays) {
            fds.push_back({relay.client, POLLIN, 0});
            fds.push_back({relay.server, POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), timeout) < 0)
            continue;
        const size_t polled = relays.size(); // a client accepted now is polled next time
        if (fds[1].revents) {
            const int client = accept(listener, nullptr, nullptr);
            if (client >= 0)
                relays.push_back({client, connectToCluster(), "", false, false});
        }
        for (size_t i = 0; i < polled; ++i) {
            Relay& relay = relays[i];
            char buffer[4096];
            if (fds[2 + 2 * i].revents) {
                const ssize_t n = read(relay.client, buffer, sizeof buffer);
                if (n <= 0) {
                    ++*clientsGone;
                    close(relay.client);
                    close(relay.server);
                    relay.client = relay.server = -1;
                    continue;
                }
                relay.pending.append(buffer, static_cast<size_t>(n));
                passClientMessages(relay, *queriesSwallowed);
            }
            if (fds[3 + 2 * i].revents) {
                const ssize_t n = read(relay.server, buffer, sizeof buffer);
                if (n > 0 && write(relay.client, buffer, static_cast<size_t>(n)) < 0)
                    continue;
            }
        }
        relays.erase(std::remove_if(relays.begin(), relays.end(),
                                    [](const Relay& relay) { return relay.client < 0; }),
                     relays.end());
        if (fds[0].revents && !stopping) {
            stopping = true;
            stopBy = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        }
    }
    for (const Relay& relay : relays) {
        close(relay.client);
        close(relay.server);
    }
    close(stopFd);
}

} // namespace

StallingProxy startStallingProxy() {
    StallingProxy proxy;
    proxy.listener = bindLoopbackPort(proxy.port);
    int stop[2];
    if (listen(proxy.listener, 8) != 0 || pipe(stop) != 0)
        throw std::runtime_error("cannot start the proxy");
    proxy.stopFd = stop[1];
    proxy.clientsGone = std::make_shared<int>(0);
    proxy.queriesSwallowed = std::make_shared<std::atomic<int>>(0);
    proxy.server = std::thread(serveStalling, proxy.listener, stop[0], proxy.clientsGone,
                               proxy.queriesSwallowed);
    return proxy;
}

void stopStallingProxy(StallingProxy& proxy) {
    if (write(proxy.stopFd, "x", 1) == 1)
        proxy.server.join();
    close(proxy.stopFd);
    close(proxy.listener);
}
