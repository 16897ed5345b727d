#pragma once

#include <string>

// A role's attributes as read from the marker words in psql's output.
struct RoleAttributes {
    bool superuser = false;
    bool createdb = false;
    bool createrole = false;
    bool login = false;
    bool passwordExpired = false; // VALID UNTIL lies in the past
    bool connectionLimitZero = false;
};

// True when `marker` occurs anywhere in `output`, case-sensitively.
bool hasMarker(const std::string& output, const std::string& marker);

// Reads the attributes. An attribute is false when its ...FALSE marker occurs,
// whatever else does; otherwise it is true when its ...TRUE marker occurs.
RoleAttributes readRoleAttributes(const std::string& output);

// Print the verdict for the main or the internal user from the role query's output;
// `messages` is what psql wrote to its standard error, never read for markers.
// Return 0 after a verdict, with psql's messages on standard error first; 1 when the
// output holds no answer to the query: the error is printed followed by the output
// itself and psql's messages, so that a saved report says why, and, when the server
// said that no role is named `roleName`, a line saying so that names any role whose
// name differs from it only in case.
// A passing verdict is followed by a warning for each reason the role still cannot
// log in: a superuser without LOGIN, an expired password, or (for a role that is no
// superuser) a connection limit of 0.
int evaluateMainUser(const std::string& output, const std::string& roleName = "",
                     const std::string& messages = "");
int evaluateInternalUser(const std::string& output, const std::string& roleName = "",
                         const std::string& messages = "");

// Whether the main user's output holds the verdict OK without SUPERUSER.
bool passesWithoutSuperuser(const std::string& mainOutput);

// After the internal user's verdict, for a main user that passes without SUPERUSER:
// prints a warning when the server is 16 or later and the main user holds no ADMIN
// OPTION on the internal user, which it then cannot alter, grant or drop.
void warnIfMainCannotManage(const std::string& internalOutput, const std::string& internalRole,
                            const std::string& mainRole);

// Prints a warning, naming the role the server looks for instead, when `roleName` is
// longer than PostgreSQL's names may be.
void warnIfNameTooLong(const std::string& roleName);

// The role query did not finish within `seconds` and was stopped: prints the main or
// the internal user's error, what psql printed until then (its output, then its
// messages), and a line saying so. Returns 1.
enum class CheckedUser { Main, Internal };
int reportStoppedCheck(CheckedUser user, const std::string& output, int seconds,
                       const std::string& messages = "");
