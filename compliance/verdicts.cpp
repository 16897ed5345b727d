#include "compliance/verdicts.h"

#include "compliance/role_query.h"

#include "system/text.h"

namespace {

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

// False when the ...FALSE marker occurs, whatever else does; else whether ...TRUE does.
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

// The texts that follow each `marker`, as the hex of their bytes, in the output.
std::vector<std::string> hexAfter(const std::string& output, const std::string& marker) {
    std::vector<std::string> texts;
    for (size_t at = output.find(marker); at != std::string::npos; at = output.find(marker, at)) {
        at += marker.size();
        std::string text;
        for (; at + 1 < output.size() && hexDigitValue(output[at]) >= 0 &&
               hexDigitValue(output[at + 1]) >= 0;
             at += 2)
            text.push_back(
                static_cast<char>(hexDigitValue(output[at]) * 16 + hexDigitValue(output[at + 1])));
        if (!text.empty())
            texts.push_back(text);
    }
    return texts;
}

// The first of them, or "".
std::string firstHexAfter(const std::string& output, const std::string& marker) {
    const std::vector<std::string> texts = hexAfter(output, marker);
    return texts.empty() ? "" : texts.front();
}

// A role that passes may still be unable to connect, and Halvern then cannot work as it:
// NOLOGIN, an expired password, a connection limit of 0 (which binds no superuser).
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

// The decimal number that follows the first `marker` in the output, or -1.
long numberAfter(const std::string& output, const std::string& marker) {
    const size_t at = output.find(marker);
    if (at == std::string::npos)
        return -1;
    long number = -1;
    for (size_t i = at + marker.size();
         i < output.size() && output[i] >= '0' && output[i] <= '9' && number < 100000000; ++i)
        number = (number < 0 ? 0 : number * 10) + (output[i] - '0');
    return number;
}

// The message of a check that could not run: psql's, or else what it printed.
std::string noAnswerMessage(const QueryRun& run) {
    std::string message = withoutLineEnds(run.messages);
    if (message.empty())
        message = withoutLineEnds(run.output);
    return message.empty() ? "psql printed no answer to the query" : message;
}

} // namespace

std::string longNameText(const std::string& name, const std::string& nameRead) {
    const std::string longest = std::to_string(kLongestName);
    return "WARNING: The name \"" + name + "\" is longer than " + longest +
           " bytes, and PostgreSQL reads only its first " + longest +
           " bytes: the role checked is \"" + nameRead + "\"";
}

std::string adminOptionText(const std::string& internal, const std::string& main) {
    return "WARNING: The main user holds no ADMIN OPTION on the internal user: on PostgreSQL 16 "
           "and later it cannot alter, grant or drop it. To let it, run: GRANT " +
           internal + " TO " + main + " WITH ADMIN OPTION";
}

RoleRecord judgeRole(CheckedUser check, const std::string& name, const QueryRun& run) {
    RoleRecord record;
    record.check = check;
    record.name = name;
    record.run = run;
    // The server says which name it read and whether it cut it (to the name's first
    // characters); without its answer the name is cut here alike.
    const std::string read = firstHexAfter(run.output, "NAMEREAD");
    record.nameReadKnown = !read.empty();
    record.nameRead = read.empty() ? nameAsRead(name) : read;
    const bool cut = read.empty()
                         ? name.size() > kLongestName
                         : hasMarker(run.output, "NAMECUTTRUE") &&
                               record.nameRead.size() < name.size() &&
                               name.compare(0, record.nameRead.size(), record.nameRead) == 0;
    if (cut)
        record.warnings.push_back({"name_too_long", longNameText(name, record.nameRead)});
    if (run.end == CommandEnd::NotStarted) {
        record.error = CheckError::NotStarted;
        record.errorMessage = withoutLineEnds(run.output);
        return record;
    }
    if (run.end == CommandEnd::Stopped) {
        // Even an answer psql printed before it was stopped is no verdict.
        record.error = CheckError::Deadline;
        const std::string said = withoutLineEnds(run.messages);
        record.errorMessage = said + (said.empty() ? "" : "\n") + deadlineLine(run.seconds);
        return record;
    }
    const bool answered =
        hasMarker(run.output, "SUPERUSERTRUE") || hasMarker(run.output, "SUPERUSERFALSE");
    if (!answered && !hasMarker(run.output, "ROLEMISSING")) {
        record.error = CheckError::NoAnswer;
        record.errorMessage = noAnswerMessage(run);
        return record;
    }
    // The server's version and where it answered, told for a missing role too.
    record.serverVersion = firstHexAfter(run.output, "SERVERVERSION");
    record.serverAddress = firstHexAfter(run.output, "SERVERADDR");
    record.serverVersionNum = numberAfter(run.output, "VERSIONNUM");
    record.serverPort = numberAfter(run.output, "SERVERPORT");
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

RoleRecord notTriedRecord(const std::string& name, const RoleRecord& main) {
    RoleRecord record;
    record.check = CheckedUser::Internal;
    record.name = name;
    record.nameRead = nameAsRead(name);
    record.error = CheckError::NotTried;
    // Whether a login or the connection was refused only psql's translated words tell.
    record.errorMessage = std::string("The check was not tried, since the main user's check ") +
                          (main.error == CheckError::Deadline ? "was stopped at the deadline"
                                                              : "got no answer from the server");
    return record;
}

// Since PostgreSQL 16 CREATEROLE lets a role alter, grant and drop only the roles on
// which it holds ADMIN OPTION (which it gets for the roles it creates itself).
void addAdminOptionWarning(RoleRecord& internal, const RoleRecord& main) {
    // A role that is its own internal user manages itself as it may (its password).
    if (main.verdict != Verdict::OkWithWarnings || !internal.attributesRead ||
        !internal.adminRule || internal.holdsAdmin || internal.nameRead == main.nameRead)
        return;
    internal.adminRoleName = main.name;
    internal.warnings.push_back({"no_admin_option", adminOptionText(quotedIdentifier(internal.name),
                                                                    quotedIdentifier(main.name))});
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

std::string deadlineLine(int seconds) {
    return "psql did not finish within " + std::to_string(seconds) + " seconds and was stopped";
}

std::string quotedIdentifier(const std::string& name) {
    std::string quoted = "\"";
    for (char c : name)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}
