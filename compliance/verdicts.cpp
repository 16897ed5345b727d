#include "compliance/verdicts.h"

#include <iostream>

namespace {

bool readAttribute(const std::string& output, const std::string& prefix) {
    if (hasMarker(output, prefix + "FALSE"))
        return false;
    return hasMarker(output, prefix + "TRUE");
}

const char kMainError[] = "ERROR: Could not execute main user compliant check";
const char kInternalError[] = "ERROR: Could not execute internal user compliant check";

// psql printed a row for the role only if a SUPERUSER marker is there; anything else
// (no connection, wrong password, unknown role) is shown to the user as it came.
bool answeredQuery(const std::string& output, const char* errorText) {
    if (hasMarker(output, "SUPERUSERTRUE") || hasMarker(output, "SUPERUSERFALSE"))
        return true;
    std::cout << errorText << "\n" << output << std::endl;
    return false;
}

// A role that passes may still be unable to log in, and Halvern then cannot connect
// as it; a superuser is not bound by a connection limit.
void warnIfNoLogin(const RoleAttributes& role) {
    if (!role.login) // a superuser passes without LOGIN
        std::cout << "WARNING: The role may not log in (NOLOGIN): it cannot connect" << std::endl;
    if (role.passwordExpired)
        std::cout << "WARNING: The role's password has expired (VALID UNTIL lies in the past): "
                     "it cannot log in with a password"
                  << std::endl;
    if (role.connectionLimitZero && !role.superuser)
        std::cout << "WARNING: The role's connection limit is 0: it cannot connect" << std::endl;
}

} // namespace

bool hasMarker(const std::string& output, const std::string& marker) {
    return output.find(marker) != std::string::npos;
}

RoleAttributes readRoleAttributes(const std::string& output) {
    RoleAttributes attributes;
    attributes.superuser = readAttribute(output, "SUPERUSER");
    attributes.createdb = readAttribute(output, "CREATEDB");
    attributes.createrole = readAttribute(output, "CREATEROLE");
    attributes.login = readAttribute(output, "LOGIN");
    attributes.passwordExpired = readAttribute(output, "PASSWORDEXPIRED");
    attributes.connectionLimitZero = readAttribute(output, "CONNLIMITZERO");
    return attributes;
}

int evaluateMainUser(const std::string& output) {
    if (!answeredQuery(output, kMainError))
        return 1;
    const RoleAttributes role = readRoleAttributes(output);
    if (role.superuser) {
        std::cout << "Main PostgreSQL user: OK" << std::endl;
        warnIfNoLogin(role);
    } else if (role.createdb && role.createrole && role.login) {
        std::cout << "Main PostgreSQL user: OK" << std::endl;
        std::cout << "WARNINGS: " << std::endl;
        std::cout << " - Your user doesn't have SUPERUSER privilege" << std::endl;
        std::cout << " - Halvern could not be upgraded from standalone to share mode" << std::endl;
        std::cout << " - Halvern could not drop the default generated internal users usr_xxxxxxx"
                  << std::endl;
        warnIfNoLogin(role);
    } else {
        std::cout << "Main PostgreSQL user: FAILED" << std::endl;
        std::cout << "WARNINGS: Your user doesn't have SUPERUSER privilege" << std::endl;
    }
    return 0;
}

int evaluateInternalUser(const std::string& output) {
    if (!answeredQuery(output, kInternalError))
        return 1;
    const RoleAttributes role = readRoleAttributes(output);
    if (role.superuser || role.login) {
        std::cout << "Internal PostgreSQL user: OK" << std::endl;
        warnIfNoLogin(role);
    } else {
        std::cout << "Internal PostgreSQL user: FAILED" << std::endl;
        std::cout << "WARNINGS: Your user doesn't have LOGIN privilege" << std::endl;
    }
    return 0;
}

int reportStoppedCheck(CheckedUser user, const std::string& output, int seconds) {
    std::cout << (user == CheckedUser::Main ? kMainError : kInternalError) << "\n" << output;
    if (!output.empty() && output.back() != '\n')
        std::cout << "\n";
    std::cout << "psql did not finish within " << seconds << " seconds and was stopped"
              << std::endl;
    return 1;
}
