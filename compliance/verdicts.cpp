#include "compliance/verdicts.h"

#include "compliance/role_query.h"

#include <iostream>

namespace {

const char kMainError[] = "ERROR: Could not execute main user compliant check";
const char kInternalError[] = "ERROR: Could not execute internal user compliant check";
const char kNotTried[] =
    "The check was not tried, since the main user's check could not connect to the server";
const char kOkWithWarnings[] =
    "WARNINGS: \n"
    " - Your user doesn't have SUPERUSER privilege\n"
    " - Halvern could not be upgraded from standalone to share mode\n"
    " - Halvern could not drop the default generated internal users usr_xxxxxxx";

// Warnings that the role cannot connect: it is not ready, whatever its verdict.
const char* const kCannotConnect[] = {"nologin", "password_expired", "connection_limit_zero"};

bool hasMarker(const std::string& output, const std::string& marker) {
    return output.find(marker) != std::string::npos;
}

// An attribute is false when its ...FALSE marker occurs, whatever else does; otherwise
// it is true when its ...TRUE marker occurs.
bool readAttribute(const std::string& output, const std::string& prefix) {
    if (hasMarker(output, prefix + "FALSE"))
        return false;
    return hasMarker(output, prefix + "TRUE");
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

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

int hexValue(char c) {
    return c <= '9' ? c - '0' : c - 'a' + 10;
}

// The texts that follow each `marker`, as the hex of their bytes, in the output.
std::vector<std::string> hexAfter(const std::string& output, const std::string& marker) {
    std::vector<std::string> texts;
    for (size_t at = output.find(marker); at != std::string::npos; at = output.find(marker, at)) {
        at += marker.size();
        std::string text;
        for (; at + 1 < output.size() && isHexDigit(output[at]) && isHexDigit(output[at + 1]);
             at += 2)
            text.push_back(static_cast<char>(hexValue(output[at]) * 16 + hexValue(output[at + 1])));
        if (!text.empty())
            texts.push_back(text);
    }
    return texts;
}

std::string withoutLineEnds(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// Prints `text` and a line feed where it has none at its end.
void printLines(std::ostream& stream, const std::string& text) {
    stream << text;
    if (!text.empty() && text.back() != '\n')
        stream << '\n';
}

std::string stoppedLine(int seconds) {
    return "psql did not finish within " + std::to_string(seconds) + " seconds and was stopped";
}

// The line that names a missing role, and the roles whose names differ from it only in
// case, the common slip of a name created without quotes.
std::string missingRoleLine(const RoleRecord& record) {
    std::string line = "ERROR: No role named \"" + record.name + "\" exists on the server";
    const std::vector<std::string>& others = record.otherCaseNames;
    for (size_t i = 0; i < others.size(); ++i)
        line += (i == 0 ? "; \"" : ", \"") + others[i] + "\"";
    if (!others.empty())
        line += std::string(others.size() == 1 ? " differs" : " differ") +
                " from it only in case. PostgreSQL stores a name written without double "
                "quotes in lower case (CREATE ROLE Halvern_Main stores halvern_main): give the "
                "name as it is stored";
    return line;
}

// A role that passes may still be unable to connect, and Halvern then cannot work as
// it: NOLOGIN, an expired password and a connection limit of 0 (which binds no
// superuser).
void addLoginWarnings(RoleRecord& record) {
    const RoleAttributes& role = record.attributes;
    if (!role.login) // a superuser passes without LOGIN
        record.warnings.push_back(
            {"nologin", "WARNING: The role may not log in (NOLOGIN): it cannot connect"});
    if (role.passwordExpired)
        record.warnings.push_back({"password_expired",
                                   "WARNING: The role's password has expired (VALID UNTIL lies in "
                                   "the past): it cannot log in with a password"});
    if (role.connectionLimitZero && !role.superuser)
        record.warnings.push_back({"connection_limit_zero",
                                   "WARNING: The role's connection limit is 0: it cannot connect"});
}

void judgeMainUser(RoleRecord& record) {
    const RoleAttributes& role = record.attributes;
    if (role.superuser) {
        record.verdict = Verdict::Ok;
    } else if (role.createdb && role.createrole && role.login) {
        record.verdict = Verdict::OkWithWarnings;
        record.lacks = {"SUPERUSER"};
        record.warnings.push_back({"no_superuser", kOkWithWarnings});
    } else {
        record.verdict = Verdict::Failed;
        for (const auto& [has, attribute] :
             {std::pair{role.createdb, "CREATEDB"}, std::pair{role.createrole, "CREATEROLE"},
              std::pair{role.login, "LOGIN"}})
            if (!has)
                record.lacks.push_back(attribute);
        record.warnings.push_back(
            {"no_superuser", "WARNINGS: Your user doesn't have SUPERUSER privilege"});
        return;
    }
    addLoginWarnings(record);
}

void judgeInternalUser(RoleRecord& record) {
    const RoleAttributes& role = record.attributes;
    if (role.superuser || role.login) {
        record.verdict = Verdict::Ok;
        addLoginWarnings(record);
    } else {
        record.verdict = Verdict::Failed;
        record.lacks = {"LOGIN"};
        record.warnings.push_back({"nologin", "WARNINGS: Your user doesn't have LOGIN privilege"});
    }
}

// The message of a check that could not run: psql's, or else what it printed.
std::string noAnswerMessage(const QueryRun& run) {
    std::string message = withoutLineEnds(run.messages);
    if (message.empty())
        message = withoutLineEnds(run.output);
    return message.empty() ? "psql printed no answer to the query" : message;
}

// The line that names what a failed role lacks, and the statement that grants it.
std::string lacksLine(const RoleRecord& record) {
    std::string names, grant;
    for (const std::string& attribute : record.lacks) {
        names += (names.empty() ? "" : ", ") + attribute;
        grant += " " + attribute;
    }
    return " - The role lacks " + names + ": ALTER ROLE " + quotedIdentifier(record.nameRead) +
           grant;
}

} // namespace

RoleRecord judgeRole(CheckedUser check, const std::string& name, const QueryRun& run) {
    RoleRecord record;
    record.check = check;
    record.name = name;
    record.run = run;
    // The server says which name it read; without its answer the name is cut here alike.
    const std::vector<std::string> read = hexAfter(run.output, "NAMEREAD");
    const bool cut =
        read.empty() ? name.size() > kLongestName : hasMarker(run.output, "NAMECUTTRUE");
    record.nameRead = read.empty() ? nameAsRead(name) : read.front();
    if (cut)
        record.warnings.push_back(
            {"name_too_long",
             "WARNING: The name \"" + name + "\" is longer than " + std::to_string(kLongestName) +
                 " bytes, and PostgreSQL reads only its first " + std::to_string(kLongestName) +
                 " bytes: the role checked is \"" + record.nameRead + "\""});
    if (run.end == QueryEnd::NotStarted) {
        record.error = CheckError::NotStarted;
        record.errorMessage = withoutLineEnds(run.output);
        return record;
    }
    if (run.end == QueryEnd::Stopped) {
        // Even an answer psql printed before it was stopped is no verdict.
        record.error = CheckError::Deadline;
        const std::string said = withoutLineEnds(run.messages);
        record.errorMessage = said + (said.empty() ? "" : "\n") + stoppedLine(run.seconds);
        return record;
    }
    const bool answered =
        hasMarker(run.output, "SUPERUSERTRUE") || hasMarker(run.output, "SUPERUSERFALSE");
    if (!answered && !hasMarker(run.output, "ROLEMISSING")) {
        record.error = CheckError::NoAnswer;
        record.errorMessage = noAnswerMessage(run);
        return record;
    }
    const std::vector<std::string> versions = hexAfter(run.output, "SERVERVERSION");
    if (!versions.empty())
        record.serverVersion = versions.front();
    if (!answered) {
        record.verdict = Verdict::Missing;
        record.otherCaseNames = hexAfter(run.output, "OTHERCASE");
        return record;
    }
    record.attributesRead = true;
    record.attributes = readRoleAttributes(run.output);
    record.adminRule = hasMarker(run.output, "ADMINRULETRUE");
    record.holdsAdmin = readAttribute(run.output, "HOLDSADMIN");
    if (check == CheckedUser::Main)
        judgeMainUser(record);
    else
        judgeInternalUser(record);
    return record;
}

RoleRecord notTriedRecord(const std::string& name) {
    RoleRecord record;
    record.check = CheckedUser::Internal;
    record.name = name;
    record.nameRead = nameAsRead(name);
    record.error = CheckError::NotTried;
    record.errorMessage = kNotTried;
    return record;
}

// Since PostgreSQL 16 CREATEROLE lets a role alter, grant and drop only the roles on
// which it holds ADMIN OPTION (which it gets for the roles it creates itself).
void addAdminOptionWarning(RoleRecord& internal, const RoleRecord& main) {
    // A role that is its own internal user manages itself as it may (its password).
    if (main.verdict != Verdict::OkWithWarnings || !internal.attributesRead ||
        !internal.adminRule || internal.holdsAdmin || internal.nameRead == main.nameRead)
        return;
    internal.warnings.push_back(
        {"no_admin_option",
         "WARNING: The main user holds no ADMIN OPTION on the internal user: on PostgreSQL 16 "
         "and later it cannot alter, grant or drop it. To let it, run: GRANT " +
             quotedIdentifier(internal.name) + " TO " + quotedIdentifier(main.name) +
             " WITH ADMIN OPTION"});
}

bool couldNotRun(const RoleRecord& record) {
    return record.error != CheckError::None;
}

bool isReady(const RoleRecord& record) {
    if (record.verdict != Verdict::Ok && record.verdict != Verdict::OkWithWarnings)
        return false;
    for (const RoleWarning& warning : record.warnings)
        for (const char* code : kCannotConnect)
            if (warning.code == code)
                return false;
    return true;
}

void printRoleReport(const RoleRecord& record) {
    const bool main = record.check == CheckedUser::Main;
    const QueryRun& run = record.run;
    for (const RoleWarning& warning : record.warnings)
        if (warning.code == "name_too_long")
            std::cout << warning.text << std::endl;
    const char* const errorText = main ? kMainError : kInternalError;
    switch (record.error) {
    case CheckError::NotTried:
        std::cout << errorText << "\n" << kNotTried << std::endl;
        return;
    case CheckError::Deadline:
        // What psql printed until then, its output and then its messages.
        std::cout << errorText << "\n";
        printLines(std::cout, run.output);
        printLines(std::cout, run.messages);
        std::cout << stoppedLine(run.seconds) << std::endl;
        return;
    case CheckError::NotStarted:
    case CheckError::NoAnswer:
        // What psql printed, and what it said of the failure, so that a saved report
        // says why.
        std::cout << errorText << "\n" << run.output << std::endl;
        printLines(std::cout, run.messages);
        return;
    case CheckError::None:
        break;
    }
    if (record.verdict == Verdict::Missing) {
        std::cout << errorText << std::endl;
        printLines(std::cout, run.messages);
        std::cout << missingRoleLine(record) << std::endl;
        return;
    }
    printLines(std::cerr, run.messages); // standard error is written at once
    std::cout << (main ? "Main" : "Internal")
              << " PostgreSQL user: " << (record.verdict == Verdict::Failed ? "FAILED" : "OK")
              << std::endl;
    bool first = true;
    for (const RoleWarning& warning : record.warnings) {
        if (warning.code == "name_too_long")
            continue;
        std::cout << warning.text << std::endl;
        // A failed role's own warning is followed by what it lacks to pass.
        if (first && record.verdict == Verdict::Failed)
            std::cout << lacksLine(record) << std::endl;
        first = false;
    }
}

std::string quotedIdentifier(const std::string& name) {
    std::string quoted = "\"";
    for (char c : name)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}
