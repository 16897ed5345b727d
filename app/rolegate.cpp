// rolegate: tells whether the roles Halvern will use on a PostgreSQL server have the
// privileges it needs.
//
// Exit status: 0 when the checks ran, whatever their verdicts; 1 when the command
// line was invalid or no text, the password could not be read or handed to psql, the
// report could not be written, or an error stopped the run. With --strict the status
// tells the verdicts: 0 every role checked is ready, 1 as above or an argument was
// skipped, 2 a check could not run, 3 the server answered and a role is not ready.

#include "app/options.h"
#include "app/usage.h"
#include "compliance/reports.h"
#include "compliance/role_query.h"
#include "compliance/verdicts.h"
#include "discovery/psql_locator.h"
#include "system/command.h"
#include "system/console.h"
#include "system/program.h"
#include "system/text.h"

#include <iostream>
#include <vector>

namespace {

const char kNoText[] =
    "ERROR: The command line holds bytes that are no text in this system's character set";

// Does not repeat the answer: it may be a password typed into the wrong prompt.
const char kNoSuchPsqlFile[] =
    "WARNING: The path typed names no psql file; trying psql by name instead.";

const char kReportNotWritten[] = "ERROR: Could not write the report to standard output";

// Where the run's lines go. The text report goes to standard output, and psql's messages
// of a check that got an answer to standard error. For a JSON report standard output
// holds the document alone, and every other line, the prompt's too, goes to standard
// error.
struct Output {
    std::ostream* lines = &std::cout;
    std::ostream* messages = &std::cerr;
    int promptFd = 1;
    bool json = false;
};

Output outputFor(ReportFormat format) {
    if (format == ReportFormat::Json)
        return {&std::cerr, &std::cerr, 2, true};
    return {};
}

// The run so far, for the document an error must still end it with.
struct Run {
    Output out;
    bool checksBegan = false;
    std::vector<RoleRecord> records;
};

// How this build writes psql's command line and where it looks for psql: both follow
// the command interpreter it runs commands through.
using RoleCommand = std::string (*)(const RoleQuery&);
struct Platform {
    RoleCommand roleCommand;
    const PsqlSearch& search;
};

Platform thisPlatform() {
    if (kCommandLanguage == CommandLanguage::Cmd)
        return {cmdRoleCommand, windowsPsqlSearch()};
    return {shRoleCommand, posixPsqlSearch()};
}

// The folder part of a program's path, "" for a bare name.
std::string folderOf(const std::string& path) {
    const size_t last = path.find_last_of("/\\");
    return last == std::string::npos ? "" : path.substr(0, last);
}

// Runs one role's query. A psql that has not finished by the deadline (a server that
// takes the login and then never answers, say) is stopped.
QueryRun runRoleQuery(RoleCommand roleCommand, const RoleQuery& query) {
    QueryRun run;
    run.seconds = commandDeadlineSeconds();
    run.end = runCommandWithin(roleCommand(query), run.seconds, run.output,
                               folderOf(query.psqlPath), &run.messages);
    return run;
}

// psql takes the connection, the password included, from its environment, so that
// none of it stands on a command line where the command interpreter could act on it
// or other users of the machine could read it. Returns 1 after saying why when a
// value does not fit into the environment or a variable cannot be removed from it.
int exportConnection(const CheckOptions& options, const std::string& password, std::ostream& out) {
    for (const auto& [name, value] : connectionVariables(options.pguser.text, options.hostname.text,
                                                         options.port.text, password)) {
        if (setInheritedVariable(name, value) != 0) {
            out << "ERROR: Could not hand the connection to psql: " << name
                << " is too long for the environment" << std::endl;
            return 1;
        }
    }
    for (const std::string& name : redirectingVariables()) {
        if (clearInheritedVariable(name) != 0) {
            out << "ERROR: Could not hand the connection to psql: " << name
                << " could not be removed from the environment" << std::endl;
            return 1;
        }
    }
    return 0;
}

// With --strict: 2 when a check could not run, else 3 when a role is not ready.
int verdictStatus(const std::vector<RoleRecord>& records) {
    int status = 0;
    for (const RoleRecord& record : records) {
        if (couldNotRun(record))
            return 2;
        if (!isReady(record))
            status = 3;
    }
    return status;
}

// Writes the JSON document to standard output; 1 when it could not be written.
int writeJsonReport(const std::vector<RoleRecord>& records) {
    std::cout << jsonReport(records, ROLEGATE_VERSION) << std::endl;
    return std::cout ? 0 : 1;
}

// Prints a role's part of the text report.
void printRoleText(const RoleRecord& record, const Output& out) {
    const RoleText text = roleReportText(record);
    *out.messages << text.messages << std::flush;
    *out.lines << text.lines << std::flush;
}

// psql's file: the one named on the command line, or the one found, or the one the
// user types when none is. Returns 1 after saying why when the named one cannot run.
int choosePsql(const CheckOptions& options, const PsqlSearch& search, std::ostream& out,
               std::string& psqlPath) {
    if (!options.psqlPath.text.empty()) {
        psqlPath = typedProgramFile(options.psqlPath.text);
        if (psqlPath.empty() || !isRunnableFile(psqlPath)) {
            out << "ERROR: The psql named by --psql is no file that can be run: "
                << options.psqlPath.text << std::endl;
            return 1;
        }
        return 0;
    }
    psqlPath = "psql";
    std::vector<std::string> misses;
    const int found = locatePsql(search, psqlPath, misses);
    for (const std::string& miss : misses)
        out << miss << std::endl;
    if (found != 0) {
        out << search.pathPrompt << std::endl;
        // Only an answer that names a file is ever run: anything else, a password typed
        // into the wrong prompt included, leaves plain psql to be tried. At the end of
        // the input the path stays as it was.
        std::string answer;
        if (readInputLine(answer) == LineRead::Line) {
            const std::string file = typedProgramFile(answer);
            if (!file.empty())
                psqlPath = file;
            else
                out << kNoSuchPsqlFile << std::endl;
        }
    }
    return 0;
}

int checkRoles(const CommandLine& commandLine, Run& run) {
    const std::vector<Argument>& arguments = commandLine.arguments;
    CheckOptions options;
    const int read = readOptions(arguments, options);
    // Whether a program asked for JSON is known even from bytes that are no text: the
    // option names are ASCII.
    if (read == 0)
        run.out = outputFor(reportFormat(options));
    std::ostream& out = *run.out.lines;
    for (const Argument& argument : arguments) {
        if (!argument.isText) {
            out << kNoText << std::endl;
            return 1;
        }
    }
    if (asksForVersion(arguments)) {
        std::cout << "rolegate " << ROLEGATE_VERSION << std::endl;
        return 0;
    }
    const std::string invalid = read == 0 ? validationError(options) : "";
    if (read != 0 || !invalid.empty()) {
        if (!invalid.empty())
            out << invalid << std::endl;
        printUsage(out);
        return 1;
    }
    // A check asked for may be among what was skipped: the report must not pass.
    for (const std::string& line : options.skipped)
        out << line << std::endl;
    if (options.strict && !options.skipped.empty())
        return 1;

    // Every command from here on runs in the environment this sets up.
    prepareCommandEnvironment();
    const Platform platform = thisPlatform();
    std::string psqlPath;
    if (choosePsql(options, platform.search, out, psqlPath) != 0)
        return 1;

    std::string password;
    if (!options.noPassword && readPassword(password, run.out.promptFd) != 0) {
        out << "Could not enter database password" << std::endl;
        return 1;
    }
    if (exportConnection(options, password, out) != 0)
        return 1;

    run.checksBegan = true;
    out << "\n==== COMPLIANT RESULTS ====" << std::endl;
    out << "Validating main user..." << std::endl;
    const std::string& encoding = commandLine.encoding;
    run.records.push_back(judgeRole(
        CheckedUser::Main, options.mainuser.text,
        runRoleQuery(platform.roleCommand, {psqlPath, options.mainuser.bytes, "", encoding})));
    printRoleText(run.records.back(), run.out);

    if (!options.internaluser.text.empty()) {
        const RoleRecord& main = run.records.front();
        out << "\nValidating internal user..." << std::endl;
        // One login per run: a server that did not answer the main user's check, or
        // refused its login, is not asked again (an account may lock after a few).
        RoleRecord internal = notTriedRecord(options.internaluser.text);
        if (!couldNotRun(main)) {
            const RoleQuery query = {psqlPath, options.internaluser.bytes, options.mainuser.bytes,
                                     encoding};
            internal = judgeRole(CheckedUser::Internal, options.internaluser.text,
                                 runRoleQuery(platform.roleCommand, query));
        }
        addAdminOptionWarning(internal, main);
        run.records.push_back(internal);
        printRoleText(run.records.back(), run.out);
    }
    // A report lost on the way (a full disk, a closed standard output) must not pass
    // for one read: a script finding no FAILED line in an empty file takes the roles
    // for ready.
    if (!std::cout.flush() || (run.out.json && writeJsonReport(run.records) != 0)) {
        std::cerr << kReportNotWritten << std::endl;
        return 1;
    }
    return options.strict ? verdictStatus(run.records) : 0;
}

} // namespace

int main(int argc, char* argv[]) {
    keepSecretsOutOfDumps();
    Run run;
    try {
        return checkRoles(readCommandLine(argc, argv), run);
    } catch (...) {
        *run.out.lines << "Could not check postgres user compliance" << std::endl;
        // Once the checks began, standard output holds one document, whatever happens:
        // one without roles, which is never ready.
        if (run.out.json && run.checksBegan)
            writeJsonReport({});
        return 1;
    }
}
