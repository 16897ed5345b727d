#include "compliance/reports.h"

#include <nlohmann/json.hpp>

namespace {

const char kMainError[] = "ERROR: Could not execute main user compliant check";
const char kInternalError[] = "ERROR: Could not execute internal user compliant check";

// Appends `prefix` and the two upper-case hex digits of `byte`.
void appendHex(std::string& text, unsigned byte, const char* prefix = "\\x") {
    static const char kDigits[] = "0123456789ABCDEF";
    text += prefix;
    text.push_back(kDigits[(byte >> 4) & 0xF]);
    text.push_back(kDigits[byte & 0xF]);
}

bool isControl(long c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F);
}

// `utf8` with every control (a line feed would forge a report line) and every byte of an
// invalid sequence written \xNN; a backslash stays as it is.
std::string escapedText(const std::string& utf8) {
    std::string shown;
    size_t length = 0;
    for (size_t at = 0; at < utf8.size(); at += length) {
        const long c = utf8CodePoint(utf8, at, length);
        if (c < 0 || isControl(c))
            appendHex(shown,
                      c < 0 ? static_cast<unsigned char>(utf8[at]) : static_cast<unsigned>(c));
        else
            shown.append(utf8, at, length);
    }
    return shown;
}

// `name` as an SQL identifier to copy from the report: U&"..." with \XXXX for each
// control where it holds one.
std::string shownIdentifier(const std::string& name) {
    std::string escaped;
    bool controls = false;
    size_t length = 0;
    for (size_t at = 0; at < name.size(); at += length) {
        const long c = utf8CodePoint(name, at, length);
        if (c >= 0 && isControl(c)) {
            appendHex(escaped, static_cast<unsigned>(c), "\\00");
            controls = true;
        } else {
            escaped += c == '\\' ? "\\\\" : c == '"' ? "\"\"" : name.substr(at, length);
        }
    }
    return controls ? "U&\"" + escaped + "\"" : quotedIdentifier(name);
}

// `text` and a line feed where it has none at its end.
std::string asLines(const std::string& text) {
    return text.empty() || text.back() == '\n' ? text : text + "\n";
}

// The line that names a missing role, and the roles whose names differ from it only in
// case (the slip of a name created without quotes).
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

// The line that names what a failed role lacks, and the statement that grants it.
std::string lacksLine(const RoleRecord& record) {
    std::string names, grant;
    for (const std::string& attribute : record.lacks) {
        names += (names.empty() ? "" : ", ") + attribute;
        grant += " " + attribute;
    }
    return " - The role lacks " + names + ": ALTER ROLE " + shownIdentifier(record.nameRead) +
           grant;
}

// A warning's line(s); those naming roles are built again with the names as shown.
std::string warningLines(const RoleRecord& record, const RoleWarning& warning,
                         const TextForm& form) {
    if (warning.code == "name_too_long")
        return shownText(longNameText(record.name, record.nameRead), form) + "\n";
    if (warning.code == "no_admin_option")
        return shownText(adminOptionText(shownIdentifier(record.name),
                                         shownIdentifier(record.adminRoleName)),
                         form) +
               "\n";
    return warning.text + "\n";
}

using Json = nlohmann::ordered_json;

// The JSON names of the verdicts and of the check errors, in the order of their enums.
const char* const kVerdictNames[] = {"ok", "ok_with_warnings", "failed", "missing", "not_checked"};
const char* const kErrorKinds[] = {"", "no_answer", "deadline", "not_started", "not_tried"};

// A kind and a message, or null when there is no kind.
Json errorObject(const std::string& kind, const std::string& message) {
    if (kind.empty())
        return nullptr;
    return Json{{"kind", kind}, {"message", message}};
}

Json roleObject(const RoleRecord& record) {
    Json role;
    role["check"] = record.check == CheckedUser::Main ? "main" : "internal";
    role["name"] = record.name;
    role["name_read"] = record.nameReadKnown ? Json(record.nameRead) : Json(nullptr);
    role["exists"] = record.attributesRead                ? Json(true)
                     : record.verdict == Verdict::Missing ? Json(false)
                                                          : Json(nullptr);
    role["verdict"] = kVerdictNames[static_cast<int>(record.verdict)];
    role["attributes"] = nullptr;
    role["lacks"] = nullptr;
    if (record.attributesRead) {
        const RoleAttributes& a = record.attributes;
        role["attributes"] = Json{{"superuser", a.superuser},
                                  {"createdb", a.createdb},
                                  {"createrole", a.createrole},
                                  {"login", a.login},
                                  {"password_expired", a.passwordExpired},
                                  {"connection_limit_zero", a.connectionLimitZero}};
        role["lacks"] = record.lacks;
    }
    role["warnings"] = Json::array();
    for (const RoleWarning& warning : record.warnings)
        role["warnings"].push_back(Json{{"code", warning.code}, {"text", warning.text}});
    role["error"] = errorObject(kErrorKinds[static_cast<int>(record.error)], record.errorMessage);
    return role;
}

} // namespace

TextForm terminalTextForm(const std::string& encoding) {
    const bool iso8859 = encoding.rfind("LATIN", 0) == 0 || encoding.rfind("ISO_8859_", 0) == 0;
    return {toLocaleText, encoding == "UTF8" ? C1Controls::Utf8
                          : iso8859          ? C1Controls::Bytes
                                             : C1Controls::None};
}

std::string shownText(const std::string& utf8, const TextForm& form) {
    const std::string escaped = escapedText(utf8);
    return form.toLocale ? form.toLocale(escaped) : escaped;
}

std::string shownBytes(const std::string& bytes, const TextForm& form) {
    std::string shown;
    for (size_t at = 0; at < bytes.size(); ++at) {
        const auto byte = static_cast<unsigned char>(bytes[at]);
        const bool c1 = byte >= 0x80 && byte <= 0x9F;
        const auto next = at + 1 < bytes.size() ? static_cast<unsigned char>(bytes[at + 1]) : 0;
        if (form.c1 == C1Controls::Utf8 && byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            appendHex(shown, byte);
            appendHex(shown, next);
            ++at;
        } else if ((byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7F ||
                   (form.c1 == C1Controls::Bytes && c1)) {
            appendHex(shown, byte);
        } else {
            shown.push_back(bytes[at]);
        }
    }
    return shown;
}

RoleText roleReportText(const RoleRecord& record, const TextForm& form) {
    const bool main = record.check == CheckedUser::Main;
    const QueryRun& run = record.run;
    const std::string output = shownBytes(run.output, form);
    const std::string messages = asLines(shownBytes(run.messages, form));
    std::string lines;
    for (const RoleWarning& warning : record.warnings)
        if (warning.code == "name_too_long")
            lines += warningLines(record, warning, form);
    const std::string failed = lines + (main ? kMainError : kInternalError) + "\n";
    switch (record.error) {
    case CheckError::NotTried:
        return {failed + record.errorMessage + "\n", ""};
    case CheckError::Deadline:
        // What psql printed until then, its output and then its messages.
        return {failed + asLines(output) + messages + deadlineLine(run.seconds) + "\n", ""};
    case CheckError::NotStarted:
    case CheckError::NoAnswer:
        // What psql printed and said of the failure, so that a saved report says why.
        return {failed + output + "\n" + messages, ""};
    case CheckError::None:
        break;
    }
    if (record.verdict == Verdict::Missing)
        return {failed + messages + shownText(missingRoleLine(record), form) + "\n", ""};
    lines += std::string(main ? "Main" : "Internal") +
             " PostgreSQL user: " + (record.verdict == Verdict::Failed ? "FAILED" : "OK") + "\n";
    bool first = true;
    for (const RoleWarning& warning : record.warnings) {
        if (warning.code == "name_too_long")
            continue;
        lines += warningLines(record, warning, form);
        // A failed role's own warning is followed by what it lacks to pass.
        if (first && record.verdict == Verdict::Failed)
            lines += shownText(lacksLine(record), form) + "\n";
        first = false;
    }
    return {lines, messages};
}

std::string jsonReport(const std::vector<RoleRecord>& records, const RunFacts& run,
                       const std::string& version) {
    bool ready = !records.empty() && run.skipped.empty() && run.errorKind.empty();
    Json serverVersion = nullptr, versionNum = nullptr, address = nullptr, port = nullptr;
    Json roles = Json::array();
    for (const RoleRecord& record : records) {
        ready = ready && isReady(record);
        if (serverVersion.is_null() && !record.serverVersion.empty())
            serverVersion = record.serverVersion;
        if (versionNum.is_null() && record.serverVersionNum >= 0)
            versionNum = record.serverVersionNum;
        if (address.is_null() && !record.serverAddress.empty())
            address = record.serverAddress;
        if (port.is_null() && record.serverPort >= 0)
            port = record.serverPort;
        roles.push_back(roleObject(record));
    }
    Json report;
    report["rolegate"] = version;
    report["ready"] = ready;
    report["server_version"] = serverVersion;
    report["server_version_num"] = versionNum;
    report["connection"] = nullptr;
    if (run.connectionHanded)
        report["connection"] =
            Json{{"host", run.host},         {"port", run.port},          {"user", run.user},
                 {"database", run.database}, {"server_address", address}, {"server_port", port}};
    report["skipped"] = run.skipped;
    report["roles"] = roles;
    report["error"] = errorObject(run.errorKind, run.errorMessage);
    return report.dump(2, ' ', true, Json::error_handler_t::replace);
}
