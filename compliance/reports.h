#pragma once

#include "compliance/verdicts.h"

#include <string>
#include <vector>

// A role's part of the text report: its lines, each ended by a line feed, and psql's
// messages of a check that got an answer, which stand apart from the report.
struct RoleText {
    std::string lines;
    std::string messages;
};
RoleText roleReportText(const RoleRecord& record);

// The report as one JSON document, in ASCII (every other character escaped, bytes that
// are no UTF-8 replaced), so that no code page can spoil it. `version` is the tool's.
std::string jsonReport(const std::vector<RoleRecord>& records, const std::string& version);
