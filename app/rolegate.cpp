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
#include "compliance/json_report.h"
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

// The folder part of a program's path, "" for a bare name.
std::string folderOf(const std::string& path) {
    const size_t last = path.find_last_of("/\\");
    return last == std::string::npos ? "" : path.substr(0, last);
}

// Runs one role's query. A psql that has not finished by the deadline (a server that
// takes the login and then never answers, say) is stopped.
// The names are given as typed, in the character set `encoding`.
QueryRun runRoleQuery(const std::string& psqlPath, const std::string& encoding,
                      const std::string& roleName, const std::string& mainRole = "") {
    QueryRun run;
    run.seconds = commandDeadlineSeconds();
    const std::string command = buildRoleQueryCommand(psqlPath, roleName, mainRole, encoding);
    const int end =
        runCommandWithin(command, run.seconds, run.output, folderOf(psqlPath), &run.messages);
    run.end = end == 1 ? QueryEnd::Stopped : end == 2 ? QueryEnd::NotStarted : QueryEnd::Finished;
    return run;
}

// psql takes the connection, the password included, from its environment, so that
// none of it stands on a command line where the command interpreter could act on it
// or other users of the machine could read it. Returns 1 after saying why when a
// value does not fit into the environment or a variable cannot be removed from it.
int exportConnection(const CheckOptions& options, const std::string& password) {
    for (const auto& [name, value] :
         connectionVariables(options.pguser, options.hostname, options.port, password)) {
        if (setInheritedVariable(name, value) != 0) {
            std::cout << "ERROR: Could not hand the connection to psql: " << name
                      << " is too long for the environment" << std::endl;
            return 1;
        }
    }
    for (const std::string& name : redirectingVariables()) {
        if (clearInheritedVariable(name) != 0) {
            std::cout << "ERROR: Could not hand the connection to psql: " << name
                      << " could not be removed from the environment" << std::endl;
            return 1;
        }
    }
    return 0;
}

// What the run has reached, for the report an error ends it with.
struct Run {
    std::streambuf* reportOutput = nullptr; // standard output, where the JSON goes
    bool checksBegan = false;
    std::vector<RoleRecord> records;
};

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
int writeJsonReport(const Run& run) {
    std::ostream report(run.reportOutput);
    report << jsonReport(run.records, ROLEGATE_VERSION) << std::endl;
    return report ? 0 : 1;
}

// psql's file: the one named on the command line, or the one found, or the one the
// user types when none is. Returns 1 after saying why when the named one cannot run.
int choosePsql(const CheckOptions& options, std::string& psqlPath) {
    if (!options.psqlPath.empty()) {
        psqlPath = typedProgramFile(options.psqlPath);
        if (psqlPath.empty() || !isRunnableFile(psqlPath)) {
            std::cout << "ERROR: The psql named by --psql is no file that can be run: "
                      << options.psqlPath << std::endl;
            return 1;
        }
        return 0;
    }
    psqlPath = "psql";
    if (locatePsql(psqlPath) != 0) {
        std::cout << platformPsqlSearch().pathPrompt << std::endl;
        // Only an answer that names a file is ever run: anything else, a password typed
        // into the wrong prompt included, leaves plain psql to be tried. At the end of
        // the input the path stays as it was.
        std::string answer;
        if (readInputLine(answer) == LineRead::Line) {
            const std::string file = typedProgramFile(answer);
            if (!file.empty())
                psqlPath = file;
            else
                std::cout << kNoSuchPsqlFile << std::endl;
        }
    }
    return 0;
}

// `argv` is the command line as UTF-8 text, `given` as the server is to read its names,
// in the character set `encoding`.
int checkRoles(const std::vector<const char*>& argv, const std::vector<const char*>& given,
               const std::string& encoding, Run& run) {
    const int argc = static_cast<int>(argv.size());
    if (asksForVersion(argc, argv.data())) {
        std::cout << "rolegate " << ROLEGATE_VERSION << std::endl;
        return 0;
    }
    CheckOptions options, asGiven;
    const int read = readOptions(argc, argv.data(), options);
    readOptions(argc, given.data(), asGiven);
    // For a JSON report standard output holds the document alone: every other line
    // goes to standard error.
    if (read == 0 && reportFormat(options) == ReportFormat::Json)
        run.reportOutput = std::cout.rdbuf(std::cerr.rdbuf());
    if (read != 0 || validateOptions(options) != 0) {
        printUsage();
        return 1;
    }
    // A check asked for may be among what was skipped: the report must not pass.
    for (const std::string& line : options.skipped)
        std::cout << line << std::endl;
    if (options.strict && !options.skipped.empty())
        return 1;

    // Every command from here on runs in the environment this sets up.
    prepareCommandEnvironment();
    std::string psqlPath;
    if (choosePsql(options, psqlPath) != 0)
        return 1;

    std::string password;
    if ((!options.noPassword && readPassword(password) != 0) ||
        exportConnection(options, password) != 0)
        return 1;

    run.checksBegan = true;
    std::cout << "\n==== COMPLIANT RESULTS ====" << std::endl;
    std::cout << "Validating main user..." << std::endl;
    run.records.push_back(judgeRole(CheckedUser::Main, options.mainuser,
                                    runRoleQuery(psqlPath, encoding, asGiven.mainuser)));
    printRoleReport(run.records.back());

    if (!options.internaluser.empty()) {
        const RoleRecord& main = run.records.front();
        std::cout << "\nValidating internal user..." << std::endl;
        // One login per run: a server that did not answer the main user's check, or
        // refused its login, is not asked again (an account may lock after a few).
        RoleRecord internal = notTriedRecord(options.internaluser);
        if (!couldNotRun(main)) {
            internal =
                judgeRole(CheckedUser::Internal, options.internaluser,
                          runRoleQuery(psqlPath, encoding, asGiven.internaluser, asGiven.mainuser));
        }
        addAdminOptionWarning(internal, main);
        run.records.push_back(internal);
        printRoleReport(run.records.back());
    }
    // A report lost on the way (a full disk, a closed standard output) must not pass
    // for one read: a script finding no FAILED line in an empty file takes the roles
    // for ready.
    if (!std::cout.flush() || (run.reportOutput && writeJsonReport(run) != 0)) {
        std::cerr << kReportNotWritten << std::endl;
        return 1;
    }
    return options.strict ? verdictStatus(run.records) : 0;
}

} // namespace

int main(int argc, char* argv[]) {
    keepSecretsOutOfDumps();
    Run run;
    int status = 1;
    try {
        std::vector<std::string> arguments;
        if (commandLineArguments(argc, argv, arguments) != 0) {
            // The option names are ASCII: whether a program asked for JSON is known all
            // the same, and its standard output then stays empty.
            CheckOptions asTyped;
            readOptions(argc, argv, asTyped);
            (reportFormat(asTyped) == ReportFormat::Json ? std::cerr : std::cout)
                << kNoText << std::endl;
            return 1;
        }
        std::vector<std::string> given;
        const std::string encoding = argumentsForServer(argc, argv, arguments, given);
        std::vector<const char*> text, bytes;
        for (size_t i = 0; i < arguments.size(); ++i) {
            text.push_back(arguments[i].c_str());
            bytes.push_back(given[i].c_str());
        }
        status = checkRoles(text, bytes, encoding, run);
    } catch (...) {
        std::cout << "Could not check postgres user compliance" << std::endl;
        // Once the checks began, standard output holds one document, whatever happens:
        // one without roles, which is never ready.
        if (run.reportOutput && run.checksBegan) {
            run.records.clear();
            writeJsonReport(run);
        }
        status = 1;
    }
    if (run.reportOutput)
        std::cout.rdbuf(run.reportOutput);
    return status;
}
