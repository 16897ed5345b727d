#include "compliance/verdicts.h"

#include "support/report.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string mainVerdict(const std::string& output, int expectedStatus = 0) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(evaluateMainUser(output), expectedStatus);
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
    // Markers are case-sensitive and the headings never count as one.
    EXPECT_EQ(mainVerdict("superusertrue rolsuper LOGINTRUE", 1),
              std::string(kMainError) + "superusertrue rolsuper LOGINTRUE\n");
}

TEST(RoleAttributes, MissingMarkersReadAsFalse) {
    const RoleAttributes none = readRoleAttributes("SUPERUSERFALSE");
    EXPECT_FALSE(none.superuser || none.createdb || none.createrole || none.login);
    const RoleAttributes all =
        readRoleAttributes("xxSUPERUSERTRUEyyCREATEDBTRUECREATEROLETRUE\nLOGINTRUE");
    EXPECT_TRUE(all.superuser && all.createdb && all.createrole && all.login);
}

} // namespace
