#pragma once

#include "compliance/verdicts.h"

#include <string>
#include <vector>

// The report as one JSON document, in ASCII (every other character escaped, bytes that
// are no UTF-8 replaced), so that no code page can spoil it. `version` is the tool's.
std::string jsonReport(const std::vector<RoleRecord>& records, const std::string& version);
