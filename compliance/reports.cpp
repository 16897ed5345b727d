#include "compliance/reports.h"

#include <nlohmann/json.hpp>

namespace {

const char kMainError[] = "ERROR: Could not execute main user compliant check";
const char kInternalError[] = "ERROR: Could not execute internal user compliant check";

// `text` and a line feed where it has none at its end.
std::string asLines(const std::string& text) {
    return text.empty() || text.back() == '\n' ? text : text + "\n";
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
    return line + "\n";
}

// The line that names what a failed role lacks, and the statement that grants it.
std::string lacksLine(const RoleRecord& record) {
    std::string names, grant;
    for (const std::string& attribute : record.lacks) {
        names += (names.empty() ? "" : ", ") + attribute;
        grant += " " + attribute;
    }
    return " - The role lacks " + names + ": ALTER ROLE " + quotedIdentifier(record.nameRead) +
           grant + "\n";
}

using Json = nlohmann::ordered_json;

const char* verdictName(const RoleRecord& record) {
    switch (record.verdict) {
    case Verdict::Ok:
        return "ok";
    case Verdict::OkWithWarnings:
        return "ok_with_warnings";
    case Verdict::Failed:
        return "failed";
    case Verdict::Missing:
        return "missing";
    case Verdict::NotChecked:
        break;
    }
    return "not_checked";
}

Json errorObject(const RoleRecord& record) {
    const char* kind = nullptr;
    switch (record.error) {
    case CheckError::None:
        return nullptr;
    case CheckError::NoAnswer:
        kind = "no_answer";
        break;
    case CheckError::Deadline:
        kind = "deadline";
        break;
    case CheckError::NotStarted:
        kind = "not_started";
        break;
    case CheckError::NotTried:
        kind = "not_tried";
        break;
    }
    return Json{{"kind", kind}, {"message", record.errorMessage}};
}

Json roleObject(const RoleRecord& record) {
    Json role;
    role["check"] = record.check == CheckedUser::Main ? "main" : "internal";
    role["name"] = record.name;
    if (record.attributesRead)
        role["exists"] = true;
    else if (record.verdict == Verdict::Missing)
        role["exists"] = false;
    else
        role["exists"] = nullptr;
    role["verdict"] = verdictName(record);
    if (record.attributesRead) {
        const RoleAttributes& a = record.attributes;
        role["attributes"] = Json{{"superuser", a.superuser},
                                  {"createdb", a.createdb},
                                  {"createrole", a.createrole},
                                  {"login", a.login},
                                  {"password_expired", a.passwordExpired},
                                  {"connection_limit_zero", a.connectionLimitZero}};
        role["lacks"] = record.lacks;
    } else {
        role["attributes"] = nullptr;
        role["lacks"] = nullptr;
    }
    role["warnings"] = Json::array();
    for (const RoleWarning& warning : record.warnings)
        role["warnings"].push_back(Json{{"code", warning.code}, {"text", warning.text}});
    role["error"] = errorObject(record);
    return role;
}

} // namespace

std::string jsonReport(const std::vector<RoleRecord>& records, const std::string& version) {
    Json report;
    report["rolegate"] = version;
    bool ready = !records.empty();
    Json serverVersion = nullptr;
    Json roles = Json::array();
    for (const RoleRecord& record : records) {
        ready = ready && isReady(record);
        if (serverVersion.is_null() && !record.serverVersion.empty())
            serverVersion = record.serverVersion;
        roles.push_back(roleObject(record));
    }
    report["ready"] = ready;
    report["server_version"] = serverVersion;
    report["roles"] = roles;
    return report.dump(2, ' ', true, Json::error_handler_t::replace);
}

RoleText roleReportText(const RoleRecord& record) {
    const bool main = record.check == CheckedUser::Main;
    const QueryRun& run = record.run;
    RoleText text;
    std::string& lines = text.lines;
    for (const RoleWarning& warning : record.warnings)
        if (warning.code == "name_too_long")
            lines += warning.text + "\n";
    const std::string errorLine = std::string(main ? kMainError : kInternalError) + "\n";
    switch (record.error) {
    case CheckError::NotTried:
        return {lines + errorLine + record.errorMessage + "\n", ""};
    case CheckError::Deadline:
        // What psql printed until then, its output and then its messages.
        return {lines + errorLine + asLines(run.output) + asLines(run.messages) +
                    deadlineLine(run.seconds) + "\n",
                ""};
    case CheckError::NotStarted:
    case CheckError::NoAnswer:
        // What psql printed, and what it said of the failure, so that a saved report
        // says why.
        return {lines + errorLine + run.output + "\n" + asLines(run.messages), ""};
    case CheckError::None:
        break;
    }
    if (record.verdict == Verdict::Missing)
        return {lines + errorLine + asLines(run.messages) + missingRoleLine(record), ""};
    text.messages = asLines(run.messages);
    lines += std::string(main ? "Main" : "Internal") +
             " PostgreSQL user: " + (record.verdict == Verdict::Failed ? "FAILED" : "OK") + "\n";
    bool first = true;
    for (const RoleWarning& warning : record.warnings) {
        if (warning.code == "name_too_long")
            continue;
        lines += warning.text + "\n";
        // A failed role's own warning is followed by what it lacks to pass.
        if (first && record.verdict == Verdict::Failed)
            lines += lacksLine(record);
        first = false;
    }
    return text;
}
