#pragma once

#include "system/command.h"

#include <string>
#include <vector>

// A role's attributes, as the markers in psql's output tell them.
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
// Why a check could not run: psql printed no answer, was stopped at the deadline or could
// not start, or the check was not tried after the main user's.
enum class CheckError { None, NoAnswer, Deadline, NotStarted, NotTried };

// A warning: a stable code, and the line(s) the text report prints.
struct RoleWarning {
    std::string code;
    std::string text;
};

// One run of the role query: how it ended, psql's output (where the markers are), its
// messages (never read for markers), and the deadline it was given.
struct QueryRun {
    CommandEnd end = CommandEnd::Finished;
    std::string output;
    std::string messages;
    int seconds = 0;
};

// The outcome of one role's check, which both reports render.
struct RoleRecord {
    CheckedUser check = CheckedUser::Main;
    std::string name;     // as given
    std::string nameRead; // as the server reads it (cut to 63 bytes), or would
    Verdict verdict = Verdict::NotChecked;
    bool attributesRead = false; // the role exists and its attributes were read
    RoleAttributes attributes;
    std::vector<std::string> lacks; // for the verdict above its own (Ok to Failed only)
    std::vector<RoleWarning> warnings;
    CheckError error = CheckError::None;
    std::string errorMessage;  // psql's or the tool's, when the check could not run
    std::string serverVersion; // "" when the server did not answer
    long serverVersionNum = -1;
    std::string serverAddress; // "" over a Unix socket, or when the server did not answer
    long serverPort = -1;
    bool nameReadKnown = false; // the server said which name it read
    QueryRun run;
    std::vector<std::string> otherCaseNames; // of a missing role
    bool adminRule = false;                  // the server is 16 or later
    bool holdsAdmin = false;                 // the main user holds ADMIN OPTION on it
    std::string adminRoleName;               // the main user, in the no_admin_option warning
};

// Judges the role named `name` from its query's run.
RoleRecord judgeRole(CheckedUser check, const std::string& name, const QueryRun& run);

// The internal user's record when its check was not tried after the main user's.
RoleRecord notTriedRecord(const std::string& name, const RoleRecord& main);

// Warns on the internal user's record when the main user, passing without SUPERUSER on a
// server of 16 or later, holds no ADMIN OPTION on it and so cannot alter or drop it.
void addAdminOptionWarning(RoleRecord& internal, const RoleRecord& main);

// Whether the check could not run; a role the server says does not exist was checked.
bool couldNotRun(const RoleRecord& record);
// Whether the role passes, with or without warnings, and can log in.
bool isReady(const RoleRecord& record);

// The texts of the warnings that name roles: a name cut to 63 bytes, and the statement
// that gives the main user ADMIN OPTION on the internal user (names as identifiers).
std::string longNameText(const std::string& name, const std::string& nameRead);
std::string adminOptionText(const std::string& internal, const std::string& main);

// The line that ends a check stopped after `seconds`.
std::string deadlineLine(int seconds);

// `name` as an SQL identifier: in double quotes, each one inside doubled.
std::string quotedIdentifier(const std::string& name);
