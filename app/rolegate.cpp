// rolegate: tells whether the roles Halvern will use on a PostgreSQL server have the
// privileges it needs. Exit status (EXIT STATUS in man/rolegate.1 says when): 0 the checks
// ran, 1 they could not; with --strict 0 every role is ready, 1 also for an argument
// skipped or given empty, 2 a check could not run, 3 a role is not ready.

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

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <vector>

namespace {

const char kNoText[] =
    "ERROR: The command line holds bytes that are no text in this system's character set";

// Does not repeat the answer: it may be a password typed into the wrong prompt.
const char kNoSuchPsqlFile[] =
    "WARNING: The path typed names no psql file; trying psql by name instead.";

const char kReportNotWritten[] = "ERROR: Could not write the report to standard output";

// Where the run's lines go: the text report to standard output, psql's messages of a
// check that got an answer to standard error; with JSON, standard output holds the
// document alone and every other line, the prompt too, goes to standard error.
struct Output {
    std::ostream* lines = &std::cout;
    std::ostream* messages = &std::cerr;
    int promptFd = 1;
    bool json = false;
};

// The run so far: what its document tells, however it ends.
struct Run {
    Output out;
    TextForm form;
    RunFacts facts;
    std::vector<RoleRecord> records;
};

using RoleCommand = std::string (*)(const RoleQuery&);

// Ends the run with `status`; with JSON, prints the document, saying why (`kind`) when
// the run ended before or outside its checks, on standard error when it cannot be
// written to standard output.
int finish(Run& run, int status, const std::string& kind = "", const std::string& message = "") {
    if (!run.out.json)
        return status;
    run.facts.errorKind = kind;
    run.facts.errorMessage = message;
    if (std::cout << jsonReport(run.records, run.facts, ROLEGATE_VERSION) << std::endl)
        return status;
    run.facts.errorKind = "report_not_written";
    run.facts.errorMessage = kReportNotWritten;
    std::cerr << kReportNotWritten << std::endl
              << jsonReport(run.records, run.facts, ROLEGATE_VERSION) << std::endl;
    return 1;
}

// Prints `line`, and ends the run with status 1 for the reason `kind`.
int fail(Run& run, const std::string& kind, const std::string& line) {
    *run.out.lines << line << std::endl;
    return finish(run, 1, kind, line);
}

// The folder part of a program's path, "" for a bare name.
std::string folderOf(const std::string& path) {
    const size_t last = path.find_last_of("/\\");
    return last == std::string::npos ? "" : path.substr(0, last);
}

// Runs one role's query; psql is stopped at the deadline (a server that takes the login
// and never answers, say).
QueryRun runRoleQuery(RoleCommand roleCommand, const RoleQuery& query) {
    QueryRun run;
    run.seconds = commandDeadlineSeconds();
    run.end = runCommandWithin(roleCommand(query), run.seconds, run.output,
                               folderOf(query.psqlPath), &run.messages);
    return run;
}

// Hands psql the connection, the password included, in its environment: on a command line
// the interpreter could act on it and other users read it. Every other copy of the
// password is wiped. Returns 1 with the line that says why when it cannot be handed over.
int exportConnection(const CheckOptions& options, std::string& password, RunFacts& facts,
                     std::string& error) {
    Variables variables = connectionVariables(options.pguser.text, options.hostname.bytes,
                                              options.port.bytes, password);
    wipeSecret(password);
    for (auto& [name, value] : variables) {
        if (error.empty() && setInheritedVariable(name, value) != 0)
            error = "ERROR: Could not hand the connection to psql: " + name +
                    " is too long for the environment";
        for (const auto& [variable, fact] :
             {std::pair{"PGHOST", &facts.host}, std::pair{"PGPORT", &facts.port},
              std::pair{"PGUSER", &facts.user}, std::pair{"PGDATABASE", &facts.database}})
            if (name == variable)
                *fact = value;
        wipeSecret(value);
    }
    for (const std::string& name : redirectingVariables())
        if (error.empty() && clearInheritedVariable(name) != 0)
            error = "ERROR: Could not hand the connection to psql: " + name +
                    " could not be removed from the environment";
    const char* const callersDatabase = std::getenv("PGDATABASE");
    if (facts.database.empty() && callersDatabase != nullptr)
        facts.database = callersDatabase; // the caller's, kept
    facts.connectionHanded = error.empty();
    return error.empty() ? 0 : 1;
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

// Prints a role's part of the text report.
void printRoleText(const RoleRecord& record, const Run& run) {
    const RoleText text = roleReportText(record, run.form);
    *run.out.messages << text.messages << std::flush;
    *run.out.lines << text.lines << std::flush;
}

// psql's file: the one named on the command line, or found, or typed when none is found.
// Returns 1 with the line that says why when the named one (even empty: the path prompt
// would swallow a piped password) cannot run.
int choosePsql(const CheckOptions& options, const PsqlSearch& search, Run& run,
               std::string& psqlPath, std::string& error) {
    std::ostream& out = *run.out.lines;
    if (options.psqlGiven) {
        psqlPath = typedProgramFile(options.psqlPath.bytes);
        if (psqlPath.empty() || !isRunnableFile(psqlPath))
            error = "ERROR: The psql named by --psql is no file that can be run: " +
                    shownBytes(options.psqlPath.bytes, run.form);
        return error.empty() ? 0 : 1;
    }
    psqlPath = "psql";
    std::vector<std::string> misses;
    const int found = locatePsql(search, psqlPath, misses);
    for (const std::string& miss : misses)
        out << miss << std::endl;
    if (found != 0) {
        out << search.pathPrompt << std::endl;
        // Only an answer that names a file is ever run: anything else (a password typed
        // into the wrong prompt, say) or the end of the input leaves plain psql.
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
    // The option names are ASCII: a request for JSON is seen even among bytes of no text.
    if (read == 0 && reportFormat(options) == ReportFormat::Json)
        run.out = {&std::cerr, &std::cerr, 2, true};
    run.form = terminalTextForm(commandLine.encoding);
    std::ostream& out = *run.out.lines;
    if (asksForVersion(arguments)) {
        std::cout << "rolegate " << ROLEGATE_VERSION << std::endl;
        return 0;
    }
    // The names the server reads must be text; paths (a socket folder, --psql) are bytes.
    for (const Argument* name : {&options.pguser, &options.mainuser, &options.internaluser})
        if (!name->isText)
            return fail(run, "no_text", kNoText);
    const std::string invalid = read == 0 ? validationError(options) : "";
    if (read != 0 || !invalid.empty()) {
        if (!invalid.empty())
            out << invalid << std::endl;
        printUsage(out);
        return finish(run, 1, "usage", invalid);
    }
    // A check asked for may be among what was skipped: the report must not pass.
    std::string skipped;
    for (const std::string& line : options.skipped) {
        out << shownText(line, run.form) << std::endl;
        skipped += (skipped.empty() ? "" : "\n") + line;
    }
    run.facts.skipped = options.skipped;
    if (options.strict && !options.skipped.empty())
        return finish(run, 1, "skipped", skipped);

    // Every command from here on runs in the environment this sets up; psql's command line
    // and search follow this build's command interpreter.
    prepareCommandEnvironment();
    const bool cmd = kCommandLanguage == CommandLanguage::Cmd;
    const RoleCommand roleCommand = cmd ? cmdRoleCommand : shRoleCommand;
    const PsqlSearch& search = cmd ? windowsPsqlSearch() : posixPsqlSearch();
    std::string psqlPath, error;
    if (choosePsql(options, search, run, psqlPath, error) != 0)
        return fail(run, "psql_not_runnable", error);

    std::string password;
    if (!options.noPassword && readPassword(password, run.out.promptFd) != 0)
        return fail(run, "password_unreadable", "Could not enter database password");
    if (exportConnection(options, password, run.facts, error) != 0)
        return fail(run, "environment", error);

    out << "\n==== COMPLIANT RESULTS ====" << std::endl;
    out << "Validating main user..." << std::endl;
    // The names go as typed where the server knows their character set, else as UTF-8.
    const bool typed = !commandLine.encoding.empty();
    const std::string encoding = typed ? commandLine.encoding : "UTF8";
    const std::string mainRole = typed ? options.mainuser.bytes : options.mainuser.text;
    run.records.push_back(judgeRole(CheckedUser::Main, options.mainuser.text,
                                    runRoleQuery(roleCommand, {psqlPath, mainRole, "", encoding})));
    printRoleText(run.records.back(), run);

    if (!options.internaluser.text.empty()) {
        const RoleRecord& main = run.records.front();
        out << "\nValidating internal user..." << std::endl;
        // A server that did not answer the main user's check, or refused its login, is not
        // asked again: an account may lock after a few failed logins.
        RoleRecord internal = notTriedRecord(options.internaluser.text, main);
        if (!couldNotRun(main)) {
            const std::string role = typed ? options.internaluser.bytes : options.internaluser.text;
            internal = judgeRole(CheckedUser::Internal, options.internaluser.text,
                                 runRoleQuery(roleCommand, {psqlPath, role, mainRole, encoding}));
        }
        addAdminOptionWarning(internal, main);
        run.records.push_back(internal);
        printRoleText(run.records.back(), run);
    }
    // A report lost on the way (a full disk, a closed standard output) must not pass: a
    // script finding no FAILED line in an empty file takes the roles for ready.
    if (!run.out.json && !std::cout.flush()) {
        std::cerr << kReportNotWritten << std::endl;
        return 1;
    }
    return finish(run, options.strict ? verdictStatus(run.records) : 0);
}

} // namespace

int main(int argc, char* argv[]) {
    keepSecretsOutOfDumps();
    // Unbuffered, so that no buffer of the C library holds the password once it is read.
    std::setvbuf(stdin, nullptr, _IONBF, 0);
    Run run;
    try {
        return checkRoles(readCommandLine(argc, argv), run);
    } catch (...) {
        try {
            return fail(run, "internal", "Could not check postgres user compliance");
        } catch (...) {
            return 1;
        }
    }
}
