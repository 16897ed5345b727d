// The verdicts over any captured output, and the JSON report of them: the bytes are
// split at the first 0x01 into the output and a role name. What each role must come to
// is worked out here from the rules of the check, not from the code under test.
#include "compliance/reports.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool holds(const std::string& output, const std::string& marker) {
    return output.find(marker) != std::string::npos;
}

// An attribute holds when its TRUE marker occurs and its FALSE marker does not: a FALSE
// marker wins over its TRUE twin.
bool attribute(const std::string& output, const std::string& name) {
    return holds(output, name + "TRUE") && !holds(output, name + "FALSE");
}

// Whether a role is ready for its part: it passes (the main user as a superuser, or with
// CREATEDB, CREATEROLE and LOGIN; the internal user as a superuser or with LOGIN), and it
// can log in: LOGIN, a password that has not expired, and for a role that is no
// superuser a connection limit other than 0.
bool ready(bool main, const std::string& output) {
    const bool superuser = attribute(output, "SUPERUSER");
    const bool login = attribute(output, "LOGIN");
    const bool passes =
        superuser ||
        (main ? attribute(output, "CREATEDB") && attribute(output, "CREATEROLE") && login : login);
    const bool canLogIn = login && !attribute(output, "PASSWORDEXPIRED") &&
                          (superuser || !attribute(output, "CONNLIMITZERO"));
    return passes && canLogIn;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const size_t split = bytes.find('\x01');
    const std::string output = bytes.substr(0, split);
    const std::string name = split == std::string::npos ? "" : bytes.substr(split + 1);
    // The query answered, with the role's attributes, only where standard output holds
    // the SUPERUSER marker, TRUE or FALSE.
    const bool answered = holds(output, "SUPERUSERTRUE") || holds(output, "SUPERUSERFALSE");
    const QueryRun run{CommandEnd::Finished, output, output, 20};
    const RoleRecord main = judgeRole(CheckedUser::Main, name, run);
    RoleRecord internal = judgeRole(CheckedUser::Internal, name, run);
    addAdminOptionWarning(internal, main);
    check(main.attributesRead == answered && internal.attributesRead == answered);
    // Whatever the server sent, the text report holds no control but line feed and tab,
    // neither as a byte nor as a UTF-8 C1 character.
    for (const RoleRecord* record : {&main, static_cast<const RoleRecord*>(&internal)}) {
        const RoleText shown = roleReportText(*record, TextForm{});
        const std::string all = shown.lines + shown.messages;
        for (size_t i = 0; i < all.size(); ++i) {
            const auto c = static_cast<unsigned char>(all[i]);
            check(c >= 0x20 || c == '\n' || c == '\t');
            check(c != 0x7F);
            check(!(c == 0xC2 && i + 1 < all.size() && (all[i + 1] & 0xE0) == 0x80));
        }
    }

    if (answered) {
        const RoleAttributes& read = main.attributes;
        check(read.superuser == attribute(output, "SUPERUSER"));
        check(read.createdb == attribute(output, "CREATEDB"));
        check(read.createrole == attribute(output, "CREATEROLE"));
        check(read.login == attribute(output, "LOGIN"));
        check(read.passwordExpired == attribute(output, "PASSWORDEXPIRED"));
        check(read.connectionLimitZero == attribute(output, "CONNLIMITZERO"));
    }

    // Every document parses, is ASCII, and says ready exactly when both roles are.
    const std::string text = jsonReport({main, internal}, RunFacts{}, "0");
    for (unsigned char c : text)
        check(c < 0x80);
    const nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
    check(!report.is_discarded() && report["roles"].size() == 2);
    check(report["ready"] == (answered && ready(true, output) && ready(false, output)));
    return 0;
}
