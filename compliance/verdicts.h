#pragma once

#include <string>
#include <vector>

// A role's attributes as read from the marker words in psql's output.
struct RoleAttributes {
    bool superuser = false;
    bool createdb = false;
    bool createrole = false;
    bool login = false;
    bool passwordExpired = false; // VALID UNTIL lies in the past
    bool connectionLimitZero = false;
};

enum class CheckedUser { Main, Internal };
enum class Verdict { Ok, OkWithWarnings, Failed, Missing, NotChecked };
// Why a check could not run: psql printed no row of the query, was stopped at the
// deadline, could not be started, or was not tried since the main user's check could
// not run.
enum class CheckError { None, NoAnswer, Deadline, NotStarted, NotTried };

// A warning of the report: a stable code, and the line (or lines) the report prints.
struct RoleWarning {
    std::string code;
    std::string text;
};

// How one run of the role query ended, and what psql wrote: its standard output, where
// the markers are looked for, and its messages, never read for markers.
enum class QueryEnd { Finished, Stopped, NotStarted };
struct QueryRun {
    QueryEnd end = QueryEnd::Finished;
    std::string output;
    std::string messages;
    int seconds = 0; // the deadline it was given
};

// The outcome of one role's check, which the text and the JSON report both render.
struct RoleRecord {
    CheckedUser check = CheckedUser::Main;
    std::string name;     // as given
    std::string nameRead; // as the server reads it (cut to 63 bytes), or would
    Verdict verdict = Verdict::NotChecked;
    bool attributesRead = false; // the role exists and its attributes were read
    RoleAttributes attributes;
    // What the role lacks for the verdict above its own (only for Ok to Failed).
    std::vector<std::string> lacks;
    std::vector<RoleWarning> warnings;
    CheckError error = CheckError::None;
    std::string errorMessage;  // what psql or the tool said, when the check could not run
    std::string serverVersion; // "" when the server did not answer
    QueryRun run;
    std::vector<std::string> otherCaseNames; // of a missing role
    bool adminRule = false;                  // the server is 16 or later
    bool holdsAdmin = false;                 // the main user holds ADMIN OPTION on this role
};

// Judges the role named `name` from its query's run.
RoleRecord judgeRole(CheckedUser check, const std::string& name, const QueryRun& run);

// The internal user's record when its check was not tried, the main user's having
// found no server to answer.
RoleRecord notTriedRecord(const std::string& name);

// For a main user that passes without SUPERUSER: warns on the internal user's record
// when the server is 16 or later and the main user holds no ADMIN OPTION on it, which
// it then cannot alter, grant or drop.
void addAdminOptionWarning(RoleRecord& internal, const RoleRecord& main);

// Whether the check could not run (no row of the query, the deadline, not started,
// not tried); a role the server says does not exist was checked.
bool couldNotRun(const RoleRecord& record);
// Whether the role passes, with or without warnings, and can log in.
bool isReady(const RoleRecord& record);

// Prints the role's part of the text report: its lines on standard output, and psql's
// messages of a check that got an answer on standard error.
void printRoleReport(const RoleRecord& record);

// The role PostgreSQL reads for `name` as an SQL identifier: in double quotes, each
// one inside doubled.
std::string quotedIdentifier(const std::string& name);
