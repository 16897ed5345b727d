#include "compliance/verdicts.h"

#include "compliance/role_query.h"

#include <iostream>
#include <vector>

namespace {

bool readAttribute(const std::string& output, const std::string& prefix) {
    if (hasMarker(output, prefix + "FALSE"))
        return false;
    return hasMarker(output, prefix + "TRUE");
}

const char kMainError[] = "ERROR: Could not execute main user compliant check";
const char kInternalError[] = "ERROR: Could not execute internal user compliant check";

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

int hexValue(char c) {
    return c <= '9' ? c - '0' : c - 'a' + 10;
}

// The names that follow each OTHERCASE, as the hex of their bytes, in the output.
std::vector<std::string> otherCaseNames(const std::string& output) {
    static const std::string kOtherCase = "OTHERCASE";
    std::vector<std::string> names;
    for (size_t at = output.find(kOtherCase); at != std::string::npos;
         at = output.find(kOtherCase, at)) {
        at += kOtherCase.size();
        std::string name;
        for (; at + 1 < output.size() && isHexDigit(output[at]) && isHexDigit(output[at + 1]);
             at += 2)
            name.push_back(static_cast<char>(hexValue(output[at]) * 16 + hexValue(output[at + 1])));
        if (!name.empty())
            names.push_back(name);
    }
    return names;
}

// The server answered, but no role has the name: say so, and name the roles that
// differ from it only in case, the common slip of a name created without quotes.
void reportMissingRole(const std::string& output, const std::string& roleName) {
    std::cout << "ERROR: No role named \"" << roleName << "\" exists on the server";
    const std::vector<std::string> others = otherCaseNames(output);
    for (size_t i = 0; i < others.size(); ++i)
        std::cout << (i == 0 ? "; " : ", ") << "\"" << others[i] << "\"";
    if (!others.empty())
        std::cout << (others.size() == 1 ? " differs" : " differ")
                  << " from it only in case. PostgreSQL stores a name written without double "
                     "quotes in lower case (CREATE ROLE Halvern_Main stores halvern_main): give "
                     "the name as it is stored";
    std::cout << std::endl;
}

// A main user that is no superuser passes, with warnings, when it has all of these.
bool passesWithWarnings(const RoleAttributes& role) {
    return role.createdb && role.createrole && role.login;
}

bool answered(const std::string& output) {
    return hasMarker(output, "SUPERUSERTRUE") || hasMarker(output, "SUPERUSERFALSE");
}

// Prints `text` and a line feed where it has none at its end.
void printLines(std::ostream& stream, const std::string& text) {
    stream << text;
    if (!text.empty() && text.back() != '\n')
        stream << '\n';
}

// psql printed a row for the role only if a SUPERUSER marker is there; anything else
// (no connection, wrong password, unknown role) is shown to the user as it came, with
// what psql said of it.
bool answeredQuery(const std::string& output, const std::string& messages, const char* errorText,
                   const std::string& roleName) {
    if (answered(output)) {
        printLines(std::cerr, messages); // standard error is written at once
        return true;
    }
    std::cout << errorText << "\n" << output << std::endl;
    printLines(std::cout, messages);
    if (hasMarker(output, "ROLEMISSING"))
        reportMissingRole(output, roleName);
    return false;
}

// A name as an SQL identifier: in double quotes, each one inside doubled.
std::string quotedIdentifier(const std::string& name) {
    std::string quoted = "\"";
    for (char c : name)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

// A role that passes may still be unable to connect, and Halvern then cannot work as
// it: warns of each reason there is, NOLOGIN, an expired password and a connection
// limit of 0 (which binds no superuser).
void warnIfCannotConnect(const RoleAttributes& role) {
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

int evaluateMainUser(const std::string& output, const std::string& roleName,
                     const std::string& messages) {
    if (!answeredQuery(output, messages, kMainError, roleName))
        return 1;
    const RoleAttributes role = readRoleAttributes(output);
    if (role.superuser) {
        std::cout << "Main PostgreSQL user: OK" << std::endl;
        warnIfCannotConnect(role);
    } else if (passesWithWarnings(role)) {
        std::cout << "Main PostgreSQL user: OK" << std::endl;
        std::cout << "WARNINGS: " << std::endl;
        std::cout << " - Your user doesn't have SUPERUSER privilege" << std::endl;
        std::cout << " - Halvern could not be upgraded from standalone to share mode" << std::endl;
        std::cout << " - Halvern could not drop the default generated internal users usr_xxxxxxx"
                  << std::endl;
        warnIfCannotConnect(role);
    } else {
        std::cout << "Main PostgreSQL user: FAILED" << std::endl;
        std::cout << "WARNINGS: Your user doesn't have SUPERUSER privilege" << std::endl;
    }
    return 0;
}

int evaluateInternalUser(const std::string& output, const std::string& roleName,
                         const std::string& messages) {
    if (!answeredQuery(output, messages, kInternalError, roleName))
        return 1;
    const RoleAttributes role = readRoleAttributes(output);
    if (role.superuser || role.login) {
        std::cout << "Internal PostgreSQL user: OK" << std::endl;
        warnIfCannotConnect(role);
    } else {
        std::cout << "Internal PostgreSQL user: FAILED" << std::endl;
        std::cout << "WARNINGS: Your user doesn't have LOGIN privilege" << std::endl;
    }
    return 0;
}

bool passesWithoutSuperuser(const std::string& mainOutput) {
    const RoleAttributes role = readRoleAttributes(mainOutput);
    return answered(mainOutput) && !role.superuser && passesWithWarnings(role);
}

// Since PostgreSQL 16 CREATEROLE lets a role alter, grant and drop only the roles on
// which it holds ADMIN OPTION (which it gets for the roles it creates itself).
void warnIfMainCannotManage(const std::string& internalOutput, const std::string& internalRole,
                            const std::string& mainRole) {
    // A role that is its own internal user manages itself as it may (its password).
    if (nameAsRead(internalRole) == nameAsRead(mainRole) || !answered(internalOutput) ||
        !hasMarker(internalOutput, "ADMINRULETRUE") || readAttribute(internalOutput, "HOLDSADMIN"))
        return;
    std::cout << "WARNING: The main user holds no ADMIN OPTION on the internal user: on "
                 "PostgreSQL 16 and later it cannot alter, grant or drop it. To let it, run: GRANT "
              << quotedIdentifier(internalRole) << " TO " << quotedIdentifier(mainRole)
              << " WITH ADMIN OPTION" << std::endl;
}

void warnIfNameTooLong(const std::string& roleName) {
    if (roleName.size() <= kLongestName)
        return;
    std::cout << "WARNING: The name \"" << roleName << "\" is longer than " << kLongestName
              << " bytes, and PostgreSQL reads only its first " << kLongestName
              << " bytes: the role checked is \"" << nameAsRead(roleName) << "\"" << std::endl;
}

int reportStoppedCheck(CheckedUser user, const std::string& output, int seconds,
                       const std::string& messages) {
    std::cout << (user == CheckedUser::Main ? kMainError : kInternalError) << "\n";
    printLines(std::cout, output);
    printLines(std::cout, messages);
    std::cout << "psql did not finish within " << seconds << " seconds and was stopped"
              << std::endl;
    return 1;
}
