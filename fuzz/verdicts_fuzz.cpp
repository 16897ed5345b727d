// The verdicts over any captured output, and the JSON report of them: the bytes are
// split at the first 0x01 into the output and a role name.
#include "compliance/reports.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const size_t split = bytes.find('\x01');
    const std::string output = bytes.substr(0, split);
    const std::string name = split == std::string::npos ? "" : bytes.substr(split + 1);
    const bool answered = output.find("SUPERUSERTRUE") != std::string::npos ||
                          output.find("SUPERUSERFALSE") != std::string::npos;
    const QueryRun run{CommandEnd::Finished, output, output, 20};
    const RoleRecord main = judgeRole(CheckedUser::Main, name, run);
    RoleRecord internal = judgeRole(CheckedUser::Internal, name, run);
    addAdminOptionWarning(internal, main);
    if (main.attributesRead != answered || internal.attributesRead != answered)
        std::abort();
    roleReportText(main, TextForm{});
    roleReportText(internal, TextForm{});

    // A FALSE marker always wins over its TRUE twin.
    if ((main.attributes.login && output.find("LOGINFALSE") != std::string::npos) ||
        (main.attributes.superuser && output.find("SUPERUSERTRUE") == std::string::npos))
        std::abort();

    // Every document parses, is ASCII, and says ready only for roles that pass.
    const std::string text = jsonReport({main, internal}, RunFacts{}, "0");
    for (unsigned char c : text)
        if (c >= 0x80)
            std::abort();
    const nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
    if (report.is_discarded() || report["roles"].size() != 2 ||
        report["ready"] != (isReady(main) && isReady(internal)))
        std::abort();
    return 0;
}
