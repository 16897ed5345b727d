#include "compliance/json_report.h"

#include <nlohmann/json.hpp>

namespace {

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
