#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Parsed {
    int status;
    CheckOptions options;
    std::string printed;
};

// readOptions, then validationError when it read enough: what the driver does.
Parsed parse(std::vector<std::string> args) {
    args.insert(args.begin(), "rolegate");
    std::vector<Argument> arguments;
    for (const std::string& arg : args)
        arguments.push_back({arg, arg, true});
    Parsed parsed;
    parsed.status = readOptions(arguments, parsed.options);
    if (parsed.status == 0) {
        const std::string error = validationError(parsed.options);
        parsed.printed = error.empty() ? "" : error + "\n";
        parsed.status = error.empty() ? 0 : 1;
    }
    return parsed;
}

const std::vector<std::string> kRequired = {"-h", "db", "-p", "5432", "-u", "admin", "-m", "main"};

std::vector<std::string> required(std::vector<std::string> before,
                                  std::vector<std::string> after = {}) {
    before.insert(before.end(), kRequired.begin(), kRequired.end());
    before.insert(before.end(), after.begin(), after.end());
    return before;
}

TEST(OptionParser, ShortAndLongNamesFillEveryField) {
    Parsed s = parse({"-h", "db", "-p", "5432", "-u", "admin", "-m", "main", "-i", "int"});
    Parsed l = parse({"--hostname", "db", "--port", "5432", "--pguser", "admin", "--mainuser",
                      "main", "--internaluser", "int"});
    for (const Parsed& p : {s, l}) {
        EXPECT_EQ(p.status, 0);
        EXPECT_EQ(p.printed, "");
        EXPECT_EQ(p.options.hostname.text, "db");
        EXPECT_EQ(p.options.port.text, "5432");
        EXPECT_EQ(p.options.pguser.text, "admin");
        EXPECT_EQ(p.options.mainuser.text, "main");
        EXPECT_EQ(p.options.internaluser.text, "int");
    }
}

TEST(OptionParser, TooFewArgumentsFailSilently) {
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"--help"}, {"-h"}}) {
        Parsed p = parse(args);
        EXPECT_EQ(p.status, 1);
        EXPECT_EQ(p.printed, "");
    }
}

TEST(OptionParser, ValidationReportsTheFirstMissingValueInOrder) {
    EXPECT_EQ(parse({"-m", "x", "-u", "y"}).printed, "ERROR: hostname is empty\n");
    EXPECT_EQ(parse({"-h", "x", "-m", "y"}).printed, "ERROR: port is empty\n");
    Parsed p = parse({"-h", "a", "-p", "1"});
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.printed, "ERROR: postgres username is empty\n");
    EXPECT_EQ(parse({"-h", "a", "-p", "1", "-u", "z"}).printed, "ERROR: main username is empty\n");
    EXPECT_EQ(parse({"--help", "x"}).printed, "ERROR: hostname is empty\n");
}

TEST(OptionParser, UnknownPairsAreSkippedWithTheirValue) {
    Parsed p = parse(required({"-x", "1", "-H", "other", "-hdb", "-i", "--hostname=z", "q"}));
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.options.hostname.text, "db");
    EXPECT_EQ(p.options.internaluser.text, "");
    // "-hdb" took "-i" as its value, so "-i" never named the internal user.
    EXPECT_EQ(p.options.skipped,
              std::vector<std::string>(
                  {"ERROR: Unknown option \"-x\" was skipped, with the argument after it",
                   "ERROR: Unknown option \"-H\" was skipped, with the argument after it",
                   "ERROR: Unknown option \"-hdb\" was skipped, with the argument after it",
                   "ERROR: Unknown option \"--hostname=z\" was skipped, with the argument after "
                   "it"}));
    // A misaligned pair puts a value where a name stands: no value is ever repeated.
    Parsed misaligned = parse(required({}, {"s3cret", "-i", "int"}));
    EXPECT_EQ(
        misaligned.options.skipped,
        std::vector<std::string>({"ERROR: An argument that is no option name was skipped, "
                                  "with the argument after it",
                                  "ERROR: The last argument has no partner and was skipped"}));
}

TEST(OptionParser, FlagsTakeNoValueAndCountOnlyWhereANameStands) {
    Parsed p = parse(required({"--strict", "-w"}, {"--format", "json", "--psql", "/x/psql"}));
    EXPECT_EQ(p.status, 0);
    EXPECT_TRUE(p.options.strict && p.options.noPassword);
    EXPECT_EQ(p.options.hostname.text, "db");
    EXPECT_EQ(reportFormat(p.options), ReportFormat::Json);
    EXPECT_EQ(p.options.psqlPath.text, "/x/psql");
    Parsed asValue = parse({"-h", "db", "-p", "1", "-u", "--strict", "-m", "-w"});
    EXPECT_EQ(asValue.status, 0);
    EXPECT_FALSE(asValue.options.strict || asValue.options.noPassword);
    EXPECT_EQ(asValue.options.pguser.text, "--strict");
    EXPECT_EQ(asValue.options.mainuser.text, "-w");
    Parsed badFormat = parse(required({"--format", "xml"}));
    EXPECT_EQ(badFormat.status, 1);
    EXPECT_EQ(badFormat.printed, "ERROR: format is neither text nor json\n");
}

TEST(OptionParser, LastRepeatWinsAndEmptyValueEmpties) {
    EXPECT_EQ(parse(required({"-h", "a"}, {"-h", "b"})).options.hostname.text, "b");
    Parsed emptied = parse(required({}, {"-h", ""}));
    EXPECT_EQ(emptied.status, 1);
    EXPECT_EQ(emptied.printed, "ERROR: hostname is empty\n");
}

TEST(OptionParser, TrailingNameWithoutValueIsIgnored) {
    Parsed p = parse(required({}, {"-i"}));
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.options.internaluser.text, "");
    EXPECT_EQ(p.options.skipped,
              std::vector<std::string>(
                  {"ERROR: The last argument, \"-i\", has no value after it and was skipped"}));
    EXPECT_EQ(parse({"-h", "a", "-p", "1", "-u", "z", "-m"}).printed,
              "ERROR: main username is empty\n");
}

TEST(OptionParser, ValuesAreTakenVerbatim) {
    Parsed p = parse({"-h", "-p", "-p", " 54x ", "-u", "a b", "-m", "-i", "-i", "n'q\"\\"});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.options.hostname.text, "-p");
    EXPECT_EQ(p.options.port.text, " 54x ");
    EXPECT_EQ(p.options.pguser.text, "a b");
    EXPECT_EQ(p.options.mainuser.text, "-i");
    EXPECT_EQ(p.options.internaluser.text, "n'q\"\\");
}

} // namespace
