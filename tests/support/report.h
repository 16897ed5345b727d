#pragma once

#include <string>

// The lines of the compliance report, as the tool prints them.

inline constexpr const char* kMainOk = "Main PostgreSQL user: OK\n";
inline constexpr const char* kMainOkWithWarnings =
    "Main PostgreSQL user: OK\n"
    "WARNINGS: \n"
    " - Your user doesn't have SUPERUSER privilege\n"
    " - Halvern could not be upgraded from standalone to share mode\n"
    " - Halvern could not drop the default generated internal users usr_xxxxxxx\n";
// A failed main user's lines: what it lacks to pass with warnings (a list such as
// "CREATEDB, LOGIN"), and the statement that grants it.
inline std::string mainFailed(const std::string& role, const std::string& lacks) {
    std::string grant = lacks;
    for (size_t at; (at = grant.find(", ")) != std::string::npos;)
        grant.replace(at, 2, " ");
    return "Main PostgreSQL user: FAILED\n"
           "WARNINGS: Your user doesn't have SUPERUSER privilege\n"
           " - The role lacks " +
           lacks + ": ALTER ROLE \"" + role + "\" " + grant + "\n";
}
inline constexpr const char* kMainError = "ERROR: Could not execute main user compliant check\n";

inline constexpr const char* kInternalOk = "Internal PostgreSQL user: OK\n";
inline std::string internalFailed(const std::string& role) {
    return "Internal PostgreSQL user: FAILED\n"
           "WARNINGS: Your user doesn't have LOGIN privilege\n"
           " - The role lacks LOGIN: ALTER ROLE \"" +
           role + "\" LOGIN\n";
}
inline constexpr const char* kInternalError =
    "ERROR: Could not execute internal user compliant check\n";

// The internal user's lines when the main user's check got no answer, or was stopped at
// its deadline.
inline const std::string kInternalNotTried =
    std::string(kInternalError) +
    "The check was not tried, since the main user's check got no answer from the server\n";
inline const std::string kInternalNotTriedAfterDeadline =
    std::string(kInternalError) +
    "The check was not tried, since the main user's check was stopped at the deadline\n";

inline constexpr const char* kNoLoginWarning =
    "WARNING: The role may not log in (NOLOGIN): it cannot connect\n";
inline constexpr const char* kExpiredWarning =
    "WARNING: The role's password has expired (VALID UNTIL lies in the past): it cannot log in "
    "with a password\n";
inline constexpr const char* kNoConnectionsWarning =
    "WARNING: The role's connection limit is 0: it cannot connect\n";

// The line that names a missing role, and the roles whose names differ from it only in
// case, each in double quotes and separated by ", ", after the check's error line.
inline std::string missingRole(const std::string& name, const std::string& otherCase = "",
                               bool several = false) {
    std::string line = "ERROR: No role named \"" + name + "\" exists on the server";
    if (!otherCase.empty())
        line += "; " + otherCase + (several ? " differ" : " differs") +
                " from it only in case. PostgreSQL stores a name written without double quotes "
                "in lower case (CREATE ROLE Halvern_Main stores halvern_main): give the name as "
                "it is stored";
    return line + "\n";
}

// The internal user's warning on PostgreSQL 16 and later, for a main user that passes
// without SUPERUSER and holds no ADMIN OPTION on it.
inline std::string adminOptionWarning(const std::string& internalRole,
                                      const std::string& mainRole) {
    return "WARNING: The main user holds no ADMIN OPTION on the internal user: on PostgreSQL 16 "
           "and later it cannot alter, grant or drop it. To let it, run: GRANT \"" +
           internalRole + "\" TO \"" + mainRole + "\" WITH ADMIN OPTION\n";
}

// The warning before the verdict for a name longer than 63 bytes.
inline std::string longNameWarning(const std::string& name, const std::string& checked) {
    return "WARNING: The name \"" + name +
           "\" is longer than 63 bytes, and PostgreSQL reads only its first 63 bytes: the role "
           "checked is \"" +
           checked + "\"\n";
}

inline constexpr const char* kPasswordPrompt = "Please enter database password:\n";
inline constexpr const char* kResultsHeading =
    "\n==== COMPLIANT RESULTS ====\nValidating main user...\n";
inline constexpr const char* kInternalHeading = "\nValidating internal user...\n";

// A whole run's output: the password prompt, then the main user's lines, then the
// internal user's when there are any.
inline std::string report(const std::string& mainLines, const std::string& internalLines = "") {
    std::string text = std::string(kPasswordPrompt) + kResultsHeading + mainLines;
    if (!internalLines.empty())
        text += kInternalHeading + internalLines;
    return text;
}

// Whether `output` is `lines` followed by a message, of psql's or of the shell that
// started it, that holds `said`: what a check that got no answer prints.
inline bool linesThenMessage(const std::string& output, const std::string& lines,
                             const std::string& said) {
    return output.compare(0, lines.size(), lines) == 0 &&
           output.find(said, lines.size()) != std::string::npos;
}

// How psql begins its message when the connection failed, after the blank line that
// follows the error text.
inline std::string psqlFailed(const std::string& port, const std::string& host = "127.0.0.1") {
    return "\npsql: error: connection to server at \"" + host + "\", port " + port + " failed: ";
}
inline const std::string kRefused =
    "Connection refused\n\tIs the server running on that host and accepting TCP/IP connections?\n";
