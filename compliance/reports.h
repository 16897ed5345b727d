#pragma once

#include "compliance/verdicts.h"
#include "system/text.h"

#include <string>
#include <vector>

// Where a character set has controls beyond ASCII's (C1): as UTF-8 writes them (C2 80 to
// C2 9F), as the bytes 80 to 9F (ISO 8859), or in no byte (Shift JIS, EUC...).
enum class C1Controls { Utf8, Bytes, None };

// How the text report shows what came from outside: names (shownText) with each control
// and invalid byte as \xNN, then through `toLocale` when set; psql's bytes (shownBytes)
// with each control as \xNN, C1 controls where `c1` says.
struct TextForm {
    std::string (*toLocale)(const std::string& utf8) = nullptr;
    C1Controls c1 = C1Controls::Utf8;
};

// The form for the terminal, whose character set PostgreSQL calls `encoding` ("" when it
// knows none): names in the locale's character set.
TextForm terminalTextForm(const std::string& encoding);
std::string shownText(const std::string& utf8, const TextForm& form);
std::string shownBytes(const std::string& bytes, const TextForm& form);

// A role's part of the text report: its lines, and psql's messages of a check that got an
// answer, which stand apart from the report.
struct RoleText {
    std::string lines;
    std::string messages;
};
RoleText roleReportText(const RoleRecord& record, const TextForm& form);

// What the JSON report tells besides the roles: the arguments skipped, the connection as
// handed to psql, and why the run ended before or outside its checks ("" when not).
struct RunFacts {
    std::vector<std::string> skipped;
    bool connectionHanded = false;
    std::string host, port, user, database;
    std::string errorKind, errorMessage;
};

// The report as one JSON document in ASCII (every other character escaped, bytes of no
// UTF-8 replaced), which no code page can spoil; `version` is the tool's.
std::string jsonReport(const std::vector<RoleRecord>& records, const RunFacts& run,
                       const std::string& version);
