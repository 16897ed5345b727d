#include "support/cluster.h"
#include "support/roles.h"

#include <gtest/gtest.h>

ProcessResult runRolegate(const std::vector<std::string>& args, const std::string& input,
                          const EnvironmentChanges& environment) {
    std::vector<std::string> argv = {ROLEGATE_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, input, environment);
}

ProcessResult runRolegateInShell(const std::string& around, const std::vector<std::string>& args,
                                 const std::string& input) {
    std::vector<std::string> argv = {"/bin/sh", "-c", around, ROLEGATE_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, input);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new ClusterEnvironment(clusterSetupSql()));
    return RUN_ALL_TESTS();
}
