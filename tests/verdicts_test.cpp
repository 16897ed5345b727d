#include "compliance/verdicts.h"

#include "compliance/role_query.h"

#include "support/report.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string mainVerdict(const std::string& output, int expectedStatus = 0,
                        const std::string& messages = "") {
    testing::internal::CaptureStdout();
    EXPECT_EQ(evaluateMainUser(output, "Halvern_Main", messages), expectedStatus);
    return testing::internal::GetCapturedStdout();
}

std::string internalVerdict(const std::string& output, int expectedStatus = 0) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(evaluateInternalUser(output), expectedStatus);
    return testing::internal::GetCapturedStdout();
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
        kMainFailed);
    EXPECT_EQ(
        mainVerdict(psqlRow("SUPERUSERFALSE", "CREATEDBFALSE", "CREATEROLETRUE", "LOGINTRUE")),
        kMainFailed);
    EXPECT_EQ(
        mainVerdict(psqlRow("SUPERUSERFALSE", "CREATEDBTRUE", "CREATEROLEFALSE", "LOGINTRUE")),
        kMainFailed);
    EXPECT_EQ(mainVerdict("SUPERUSERFALSE CREATEDBTRUE CREATEROLETRUE"), kMainFailed);
}

TEST(MainUserVerdict, FalseMarkerWinsOverTrue) {
    EXPECT_EQ(mainVerdict("SUPERUSERFALSE CREATEDBTRUE CREATEDBFALSE CREATEROLETRUE LOGINTRUE"),
              kMainFailed);
    EXPECT_EQ(mainVerdict("SUPERUSERTRUE SUPERUSERFALSE CREATEDBTRUE CREATEROLETRUE LOGINTRUE"),
              kMainOkWithWarnings);
}

TEST(InternalUserVerdict, NeedsSuperuserOrLogin) {
    EXPECT_EQ(internalVerdict("SUPERUSERTRUE"), kInternalOk + std::string(kNoLoginWarning));
    EXPECT_EQ(internalVerdict("SUPERUSERFALSE LOGINTRUE"), kInternalOk);
    EXPECT_EQ(internalVerdict("SUPERUSERFALSE"), kInternalFailed);
    EXPECT_EQ(
        internalVerdict(psqlRow("SUPERUSERFALSE", "CREATEDBTRUE", "CREATEROLETRUE", "LOGINFALSE")),
        kInternalFailed);
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
              kMainFailed);
    EXPECT_EQ(internalVerdict("SUPERUSERFALSE LOGINTRUE PASSWORDEXPIREDTRUE CONNLIMITZEROTRUE"),
              std::string(kInternalOk) + kExpiredWarning + kNoConnectionsWarning);
    EXPECT_EQ(internalVerdict("SUPERUSERFALSE LOGINTRUE PASSWORDEXPIREDTRUE PASSWORDEXPIREDFALSE"),
              kInternalOk);
}

// Even an answer psql printed before it was stopped is no verdict.
TEST(VerdictGate, StoppedCheckIsAnErrorWhateverItPrinted) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(reportStoppedCheck(CheckedUser::Internal, "SUPERUSERTRUE", 20), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string(kInternalError) +
                  "SUPERUSERTRUE\npsql did not finish within 20 seconds and was stopped\n");
}

TEST(VerdictGate, OutputWithoutAnAnswerIsShownAfterTheError) {
    EXPECT_EQ(mainVerdict("", 1), std::string(kMainError) + "\n");
    EXPECT_EQ(internalVerdict("", 1), std::string(kInternalError) + "\n");
    const std::string noRow = " rolsuper | rolcreatedb | rolcreaterole | rolcanlogin \n"
                              "----------+-------------+---------------+-------------\n"
                              "(0 rows)\n\n";
    EXPECT_EQ(mainVerdict(noRow, 1), kMainError + noRow + "\n");
    EXPECT_EQ(mainVerdict("popen failed", 1), std::string(kMainError) + "popen failed\n");
    // psql's messages follow, and are never read for markers (a NOTICE may quote anything).
    EXPECT_EQ(mainVerdict("", 1, "NOTICE:  SUPERUSERTRUE"),
              std::string(kMainError) + "\nNOTICE:  SUPERUSERTRUE\n");
    // Markers are case-sensitive and the headings never count as one.
    EXPECT_EQ(mainVerdict("superusertrue rolsuper LOGINTRUE", 1),
              std::string(kMainError) + "superusertrue rolsuper LOGINTRUE\n");
}

// The server's answer for a missing role is no verdict either, but names the role, and
// the roles whose names differ from it only in case.
TEST(VerdictGate, MissingRoleIsNamed) {
    const std::string none = "  |  | ROLEMISSING\n(1 row)\n\n";
    EXPECT_EQ(mainVerdict(none, 1), kMainError + none + "\n" + missingRole("Halvern_Main"));
    const std::string two = "  | ROLEMISSINGOTHERCASE48414c OTHERCASE68616c\n(1 row)\n\n";
    testing::internal::CaptureStdout();
    EXPECT_EQ(evaluateInternalUser(two, "Hal"), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              kInternalError + two + "\n" + missingRole("Hal", "\"HAL\", \"hal\"", true));
    testing::internal::CaptureStdout();
    EXPECT_EQ(evaluateMainUser(none + "OTHERCASE68616c", "Hal"), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              kMainError + none + "OTHERCASE68616c\n" + missingRole("Hal", "\"hal\""));
}

std::string managingWarning(const std::string& internalOutput,
                            const std::string& mainRole = "main") {
    testing::internal::CaptureStdout();
    warnIfMainCannotManage(internalOutput, "usr\"1", mainRole);
    return testing::internal::GetCapturedStdout();
}

// Only a server of 16 or later, and only without ADMIN OPTION, and only for an answer.
TEST(AdminOption, WarnedOfOnSixteenAndLaterWithoutIt) {
    EXPECT_EQ(managingWarning("SUPERUSERFALSE LOGINTRUE ADMINRULETRUE HOLDSADMINFALSE"),
              adminOptionWarning("usr\"\"1", "main"));
    EXPECT_EQ(managingWarning("SUPERUSERFALSE LOGINTRUE ADMINRULEFALSE HOLDSADMINFALSE"), "");
    EXPECT_EQ(managingWarning("SUPERUSERFALSE LOGINTRUE ADMINRULETRUE HOLDSADMINTRUE"), "");
    EXPECT_EQ(managingWarning("ROLEMISSING ADMINRULETRUE HOLDSADMINFALSE"), "");
    EXPECT_EQ(managingWarning("SUPERUSERFALSE LOGINTRUE ADMINRULETRUE HOLDSADMINFALSE", "usr\"1"),
              "");
    EXPECT_TRUE(passesWithoutSuperuser("SUPERUSERFALSE CREATEDBTRUE CREATEROLETRUE LOGINTRUE"));
    EXPECT_FALSE(passesWithoutSuperuser("SUPERUSERTRUE CREATEDBTRUE CREATEROLETRUE LOGINTRUE"));
    EXPECT_FALSE(passesWithoutSuperuser("SUPERUSERFALSE CREATEDBTRUE CREATEROLETRUE"));
    EXPECT_FALSE(passesWithoutSuperuser("CREATEDBTRUE CREATEROLETRUE LOGINTRUE"));
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
    testing::internal::CaptureStdout();
    warnIfNameTooLong(ascii);
    warnIfNameTooLong(accents);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              longNameWarning(accents, accents.substr(0, 62)));
}

TEST(RoleAttributes, MissingMarkersReadAsFalse) {
    const RoleAttributes none = readRoleAttributes("SUPERUSERFALSE");
    EXPECT_FALSE(none.superuser || none.createdb || none.createrole || none.login);
    const RoleAttributes all =
        readRoleAttributes("xxSUPERUSERTRUEyyCREATEDBTRUECREATEROLETRUE\nLOGINTRUE");
    EXPECT_TRUE(all.superuser && all.createdb && all.createrole && all.login);
}

} // namespace
