#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

// A throwaway PostgreSQL server for the test run: loopback only, a free port,
// password authentication, its socket in a private directory.
struct TestCluster {
    std::string dir;
    std::string port;
    std::string socketDir;
    std::string superuserPassword;
};

// The server started by ClusterEnvironment.
const TestCluster& testCluster();

// Runs SQL as the superuser; fails the test on any error.
void runSuperuserSql(const std::string& sql);
void runSuperuserSql(const TestCluster& cluster, const std::string& sql,
                     const std::string& database = "postgres");

// Starts a throwaway server from the initdb, pg_ctl and postgres in `bindir` (empty:
// the newest installed) and runs `setupSql` in it; `cluster.port` stays empty when it
// could not start (the test has failed then).
void startTestCluster(TestCluster& cluster, const std::string& bindir, const std::string& setupSql);
void stopTestCluster(const TestCluster& cluster, const std::string& bindir);

class ClusterEnvironment : public ::testing::Environment {
  public:
    explicit ClusterEnvironment(std::string setupSql) : setupSql_(std::move(setupSql)) {}
    void SetUp() override;
    void TearDown() override;

  private:
    std::string setupSql_;
};

// A socket bound to a free loopback port, not yet listening; `port` is set to it.
int bindLoopbackPort(std::string& port);

// The major of the psql under /usr/lib/postgresql that the tool finds there, or 0: the
// newest of 16 down to 12, else the newest after 16.
int newestInstalledPsqlVersion();

// A server that takes the login and then never answers: a proxy on a free loopback
// port to the test cluster, which passes everything through until the client sends a
// query, and from then on swallows what that client sends. It serves until stopped;
// stopping it gives the clients still connected several seconds to leave and be counted.
struct StallingProxy {
    std::string port;
    int listener = -1;
    int stopFd = -1;                                    // written to stop the proxy
    std::shared_ptr<int> clientsGone;                   // connections the client side has closed
    std::shared_ptr<std::atomic<int>> queriesSwallowed; // read while it serves
    std::thread server;
};
StallingProxy startStallingProxy();
void stopStallingProxy(StallingProxy& proxy);
