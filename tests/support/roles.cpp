#include "support/roles.h"

#include "support/cluster.h"

std::string clusterSetupSql() {
    std::string sql = "create role rg_super superuser login;\n"
                      "create role rg_warn createdb createrole login;\n"
                      "create role rg_dbonly createdb login;\n"
                      "create role rg_login login;\n"
                      "create role rg_nologin nologin;\n"
                      "create role rg_rolesonly createrole createdb nologin;\n"
                      "create role rg_expired createdb createrole login valid until "
                      "'2000-01-01';\n"
                      "create role rg_nolimit login connection limit 0;\n"
                      "create role rg_super_nologin superuser nologin;\n"
                      // What Shift JIS's backslash and tilde bytes would be taken for.
                      "create role \"a\\b\" login;\n"
                      "create role \"a\u00A5b\" superuser login;\n"
                      "create role \"x~y\" login;\n";
    sql += "create role \"app@corp\" login password $pw$" + kConnectingPassword + "$pw$;\n";
    for (const std::string& name : kHostileRoleNames) {
        std::string identifier;
        for (char c : name)
            identifier += c == '"' ? std::string("\"\"") : std::string(1, c);
        sql += "create role \"" + identifier + "\" createdb createrole login;\n";
    }
    return sql;
}

std::vector<std::string> checkArgs(const std::string& mainRole, const std::string& internalRole) {
    std::vector<std::string> args = {"-h", "127.0.0.1",     "-p", testCluster().port,
                                     "-u", kConnectingUser, "-m", mainRole};
    if (!internalRole.empty()) {
        args.push_back("-i");
        args.push_back(internalRole);
    }
    return args;
}
