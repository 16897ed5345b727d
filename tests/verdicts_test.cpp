#include "compliance/verdicts.h"

#include "app/options.h"
#include "compliance/reports.h"
#include "compliance/role_query.h"

#include "support/report.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <set>
#include <string>

namespace {

RoleRecord judged(CheckedUser user, const std::string& output, const std::string& name,
                  const std::string& messages = "") {
    return judgeRole(user, name, QueryRun{CommandEnd::Finished, output, messages, 20});
}

// The role's lines in the text report.
std::string printed(const RoleRecord& record) {
    return roleReportText(record, TextForm{}).lines;
}

// The main user's report; `answered` whether the output holds a verdict.
std::string mainVerdict(const std::string& output, bool answered = true,
                        const std::string& messages = "") {
    const RoleRecord record = judged(CheckedUser::Main, output, "Halvern_Main", messages);
    EXPECT_EQ(record.attributesRead, answered) << output;
    return printed(record);
}

std::string internalVerdict(const std::string& output, bool answered = true) {
    const RoleRecord record = judged(CheckedUser::Internal, output, "int");
    EXPECT_EQ(record.attributesRead, answered) << output;
    return printed(record);
}

// psql's aligned output for one role.
std::string psqlRow(const char* super, const char* db, const char* role, const char* login) {
    return std::string(" rolsuper | rolcreatedb | rolcreaterole | rolcanlogin \n"
                       "----------+-------------+---------------+-------------\n ") +
           super + " | " + db + " | " + role + " | " + login + "\n(1 row)\n\n";
}

TEST(MainUserVerdict, FollowsTheAttributeTable) {
    EXPECT_EQ(mainVerdict("SUPERUSERTRUE LOGINTRUE"), kMainOk);
    EXPECT_EQ(
        mainVerdict(psqlRow("SUPERUSERTRUE", "CREATEDBFALSE", "CREATEROLEFALSE", "LOGINFALSE")),
        kMainOk + std::string(kNoLoginWarning));
    EXPECT_EQ(mainVerdict(psqlRow("SUPERUSERFALSE", "CREATEDBTRUE", "CREATEROLETRUE", "LOGINTRUE")),
              kMainOkWithWarnings);
    EXPECT_EQ(
        mainVerdict(psqlRow("SUPERUSERFALSE", "CREATEDBTRUE", "CREATEROLETRUE", "LOGINFALSE")),
        mainFailed("Halvern_Main", "LOGIN"));
    EXPECT_EQ(
        mainVerdict(psqlRow("SUPERUSERFALSE", "CREATEDBFALSE", "CREATEROLETRUE", "LOGINTRUE")),
        mainFailed("Halvern_Main", "CREATEDB"));
    EXPECT_EQ(
        mainVerdict(psqlRow("SUPERUSERFALSE", "CREATEDBTRUE", "CREATEROLEFALSE", "LOGINTRUE")),
        mainFailed("Halvern_Main", "CREATEROLE"));
    EXPECT_EQ(mainVerdict("SUPERUSERFALSE CREATEDBTRUE CREATEROLETRUE"),
              mainFailed("Halvern_Main", "LOGIN"));
}

TEST(MainUserVerdict, FalseMarkerWinsOverTrue) {
    EXPECT_EQ(mainVerdict("SUPERUSERFALSE CREATEDBTRUE CREATEDBFALSE CREATEROLETRUE LOGINTRUE"),
              mainFailed("Halvern_Main", "CREATEDB"));
    EXPECT_EQ(mainVerdict("SUPERUSERTRUE SUPERUSERFALSE CREATEDBTRUE CREATEROLETRUE LOGINTRUE"),
              kMainOkWithWarnings);
}

TEST(InternalUserVerdict, NeedsSuperuserOrLogin) {
    EXPECT_EQ(internalVerdict("SUPERUSERTRUE"), kInternalOk + std::string(kNoLoginWarning));
    EXPECT_EQ(internalVerdict("SUPERUSERFALSE LOGINTRUE"), kInternalOk);
    EXPECT_EQ(internalVerdict("SUPERUSERFALSE"), internalFailed("int"));
    EXPECT_EQ(
        internalVerdict(psqlRow("SUPERUSERFALSE", "CREATEDBTRUE", "CREATEROLETRUE", "LOGINFALSE")),
        internalFailed("int"));
    // The statement names the role as an identifier, as the server reads it.
    EXPECT_EQ(printed(judged(CheckedUser::Internal, "SUPERUSERFALSE", "a\"b")),
              internalFailed("a\"\"b"));
}

// A role that passes but cannot log in is told so after its verdict; one that fails
// needs no more words, and a superuser is bound by no connection limit.
TEST(LoginWarnings, FollowPassingVerdictsOnly) {
    EXPECT_EQ(mainVerdict("SUPERUSERTRUE LOGINTRUE PASSWORDEXPIREDTRUE CONNLIMITZEROTRUE"),
              std::string(kMainOk) + kExpiredWarning);
    EXPECT_EQ(mainVerdict("SUPERUSERFALSE CREATEDBTRUE CREATEROLETRUE LOGINTRUE "
                          "PASSWORDEXPIREDFALSE CONNLIMITZEROTRUE"),
              std::string(kMainOkWithWarnings) + kNoConnectionsWarning);
    EXPECT_EQ(mainVerdict("SUPERUSERFALSE LOGINTRUE PASSWORDEXPIREDTRUE CONNLIMITZEROTRUE"),
              mainFailed("Halvern_Main", "CREATEDB, CREATEROLE"));
    EXPECT_EQ(internalVerdict("SUPERUSERFALSE LOGINTRUE PASSWORDEXPIREDTRUE CONNLIMITZEROTRUE"),
              std::string(kInternalOk) + kExpiredWarning + kNoConnectionsWarning);
    EXPECT_EQ(internalVerdict("SUPERUSERFALSE LOGINTRUE PASSWORDEXPIREDTRUE PASSWORDEXPIREDFALSE"),
              kInternalOk);
}

// Even an answer psql printed before it was stopped is no verdict.
TEST(VerdictGate, StoppedCheckIsAnErrorWhateverItPrinted) {
    const RoleRecord record = judgeRole(CheckedUser::Internal, "int",
                                        QueryRun{CommandEnd::Stopped, "SUPERUSERTRUE", "", 20});
    EXPECT_TRUE(couldNotRun(record));
    EXPECT_EQ(printed(record),
              std::string(kInternalError) +
                  "SUPERUSERTRUE\npsql did not finish within 20 seconds and was stopped\n");
}

TEST(VerdictGate, OutputWithoutAnAnswerIsShownAfterTheError) {
    EXPECT_EQ(mainVerdict("", false), std::string(kMainError) + "\n");
    EXPECT_EQ(internalVerdict("", false), std::string(kInternalError) + "\n");
    const std::string noRow = " rolsuper | rolcreatedb | rolcreaterole | rolcanlogin \n"
                              "----------+-------------+---------------+-------------\n"
                              "(0 rows)\n\n";
    EXPECT_EQ(mainVerdict(noRow, false), kMainError + noRow + "\n");
    // psql's messages follow, and are never read for markers (a NOTICE may quote anything).
    EXPECT_EQ(mainVerdict("", false, "NOTICE:  SUPERUSERTRUE"),
              std::string(kMainError) + "\nNOTICE:  SUPERUSERTRUE\n");
    // Markers are case-sensitive and the headings never count as one.
    EXPECT_EQ(mainVerdict("superusertrue rolsuper LOGINTRUE", false),
              std::string(kMainError) + "superusertrue rolsuper LOGINTRUE\n");
}

// The server's answer for a missing role is no verdict either: it names the role, and
// the roles whose names differ from it only in case, without the query's table.
TEST(VerdictGate, MissingRoleIsNamed) {
    const std::string none = "  |  | ROLEMISSING\n(1 row)\n\n";
    EXPECT_EQ(mainVerdict(none, false), kMainError + missingRole("Halvern_Main"));
    const std::string two = "  | ROLEMISSINGOTHERCASE48414c OTHERCASE68616c\n(1 row)\n\n";
    const RoleRecord missing = judged(CheckedUser::Internal, two, "Hal", "NOTICE:  x\n");
    EXPECT_FALSE(couldNotRun(missing));
    EXPECT_EQ(printed(missing), kInternalError + std::string("NOTICE:  x\n") +
                                    missingRole("Hal", "\"HAL\", \"hal\"", true));
}

std::string managingWarning(const std::string& internalOutput,
                            const std::string& mainRole = "main") {
    RoleRecord internal = judged(CheckedUser::Internal, internalOutput, "usr\"1");
    const RoleRecord main =
        judged(CheckedUser::Main, "SUPERUSERFALSE CREATEDBTRUE CREATEROLETRUE LOGINTRUE", mainRole);
    addAdminOptionWarning(internal, main);
    const std::string lines = printed(internal);
    return lines.substr(lines.find('\n') + 1);
}

// Only a server of 16 or later, and only without ADMIN OPTION, and only for an answer.
TEST(AdminOption, WarnedOfOnSixteenAndLaterWithoutIt) {
    EXPECT_EQ(managingWarning("SUPERUSERFALSE LOGINTRUE ADMINRULETRUE HOLDSADMINFALSE"),
              adminOptionWarning("usr\"\"1", "main"));
    EXPECT_EQ(managingWarning("SUPERUSERFALSE LOGINTRUE ADMINRULEFALSE HOLDSADMINFALSE"), "");
    EXPECT_EQ(managingWarning("SUPERUSERFALSE LOGINTRUE ADMINRULETRUE HOLDSADMINTRUE"), "");
    EXPECT_EQ(managingWarning("SUPERUSERFALSE LOGINTRUE ADMINRULETRUE HOLDSADMINFALSE", "usr\"1"),
              "");
}

// The server keeps the first 63 bytes of a name, without the piece of a character cut.
TEST(LongName, WarnedOfWithTheNameTheServerReads) {
    const std::string ascii(63, 'a');
    EXPECT_EQ(nameAsRead(ascii), ascii);
    EXPECT_EQ(nameAsRead(ascii + "b"), ascii);
    std::string accents; // 32 two-byte characters: the 32nd would span bytes 63 and 64
    for (int i = 0; i < 32; ++i)
        accents += "\xC3\xA9";
    EXPECT_EQ(nameAsRead(accents), accents.substr(0, 62));
    EXPECT_EQ(printed(judged(CheckedUser::Main, "SUPERUSERTRUE LOGINTRUE", ascii)), kMainOk);
    EXPECT_EQ(printed(judged(CheckedUser::Main, "SUPERUSERTRUE LOGINTRUE", accents)),
              longNameWarning(accents, accents.substr(0, 62)) + kMainOk);
}

// The JSON report carries the same records, in ASCII, whatever bytes a name or a
// message holds.
TEST(JsonReport, RecordsAsTheStableNames) {
    const RoleRecord main =
        judged(CheckedUser::Main, "SUPERUSERFALSE CREATEDBTRUE LOGINTRUE SERVERVERSION31352e33",
               "r\xC3\xB4le\x01");
    const RoleRecord internal =
        judgeRole(CheckedUser::Internal, "int\xFF",
                  QueryRun{CommandEnd::Finished, "", "FATAL:  \xE9t\xE9", 20});
    const std::string text = jsonReport({main, internal}, RunFacts{}, "1.2.3");
    for (unsigned char c : text)
        EXPECT_TRUE(c < 0x80) << text;
    const nlohmann::json report = nlohmann::json::parse(text);
    EXPECT_EQ(report["rolegate"], "1.2.3");
    EXPECT_EQ(report["ready"], false);
    EXPECT_EQ(report["server_version"], "15.3");
    const nlohmann::json& m = report["roles"][0];
    EXPECT_EQ(m["check"], "main");
    EXPECT_EQ(m["name"], "r\xC3\xB4le\x01");
    EXPECT_EQ(m["exists"], true);
    EXPECT_EQ(m["verdict"], "failed");
    EXPECT_EQ(m["attributes"]["createdb"], true);
    EXPECT_EQ(m["attributes"]["connection_limit_zero"], false);
    EXPECT_EQ(m["lacks"], nlohmann::json::array({"CREATEROLE"}));
    EXPECT_EQ(m["warnings"][0]["code"], "no_superuser");
    EXPECT_TRUE(m["error"].is_null());
    const nlohmann::json& i = report["roles"][1];
    EXPECT_EQ(i["name"], "int\xEF\xBF\xBD");
    EXPECT_TRUE(i["exists"].is_null() && i["attributes"].is_null() && i["lacks"].is_null());
    EXPECT_EQ(i["verdict"], "not_checked");
    EXPECT_EQ(i["error"]["kind"], "no_answer");
    EXPECT_EQ(i["error"]["message"], "FATAL:  \xEF\xBF\xBDt\xEF\xBF\xBD");
}

#ifdef ROLEGATE_MANUAL
// The part of the manual page under the heading `section`, up to the next one.
std::string manualSection(const std::string& section) {
    std::ifstream file(ROLEGATE_MANUAL);
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    const size_t from = text.find(".SH " + section + "\n");
    EXPECT_NE(from, std::string::npos) << section;
    return from == std::string::npos ? "" : text.substr(from, text.find("\n.SH ", from + 1) - from);
}

// Every key of `value`, and of what it holds, into `names`.
void collectNames(const nlohmann::json& value, std::set<std::string>& names) {
    if (value.is_object())
        for (const auto& [key, member] : value.items()) {
            names.insert(key);
            collectNames(member, names);
        }
    if (value.is_array())
        for (const nlohmann::json& member : value)
            collectNames(member, names);
}

// The manual names every option, every exit status and every name of the JSON report.
TEST(Manual, NamesEveryOptionExitStatusAndJsonName) {
    const std::string options = manualSection("OPTIONS") + manualSection("SYNOPSIS");
    for (std::string name : optionNames()) {
        for (size_t at = 0; (at = name.find('-', at)) != std::string::npos; at += 2)
            name.insert(at, "\\");
        EXPECT_NE(options.find(name), std::string::npos) << name;
    }
    const std::string statuses = manualSection("EXIT STATUS");
    for (const char* status : {"0", "1", "2", "3"})
        EXPECT_NE(statuses.find(".B " + std::string(status) + "\n"), std::string::npos) << status;

    // A document that holds every name: each role answered, with an error, and warned.
    RoleRecord main = judged(CheckedUser::Main,
                             "SUPERUSERFALSE CREATEDBTRUE CREATEROLETRUE LOGINTRUE "
                             "SERVERVERSION3136 VERSIONNUM160004 SERVERADDR31 SERVERPORT5432 "
                             "NAMEREAD6d ADMINRULETRUE HOLDSADMINFALSE",
                             "m");
    main.error = CheckError::NoAnswer;
    RunFacts facts;
    facts.connectionHanded = true;
    facts.errorKind = "usage";
    const nlohmann::json document = nlohmann::json::parse(jsonReport({main}, facts, "1"));
    std::set<std::string> names;
    collectNames(document, names);
    EXPECT_GT(names.size(), 25u);
    const std::string json = manualSection("JSON REPORT");
    for (const std::string& name : names)
        EXPECT_NE(json.find(name), std::string::npos) << name;
}
#endif

} // namespace
