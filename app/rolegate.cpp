// rolegate: tells whether the roles Halvern will use on a PostgreSQL server have the
// privileges it needs.
//
// Exit status: 0 when the checks ran, whatever their verdicts; 1 when the command
// line was invalid or no text, the password could not be read or handed to psql, the
// report could not be written, or an error stopped the run.

#include "app/options.h"
#include "app/usage.h"
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

// Runs one role's query and prints its verdict; returns what psql printed on its
// standard output (its messages, on standard error, are shown with the verdict). A psql that
// has not finished by the deadline (a server that takes the login and then never
// answers, say) is stopped, and the check ends as one that could not run.
// `mainRole` is the main user, whose ADMIN OPTION on the internal user is asked about.
std::string checkRole(const std::string& psqlPath, const std::string& roleName, CheckedUser user,
                      const std::string& mainRole = "") {
    warnIfNameTooLong(roleName);
    const std::string command = buildRoleQueryCommand(psqlPath, roleName, mainRole);
    std::string output, messages;
    if (runCommandWithin(command, kCommandDeadlineSeconds, output, folderOf(psqlPath), &messages) !=
        0)
        reportStoppedCheck(user, output, kCommandDeadlineSeconds, messages);
    else if (user == CheckedUser::Main)
        evaluateMainUser(output, roleName, messages);
    else
        evaluateInternalUser(output, roleName, messages);
    return output;
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

int checkRoles(int argc, const char* const argv[]) {
    CheckOptions options;
    if (parseOptions(argc, argv, options) != 0) {
        printUsage();
        return 1;
    }

    // Every command from here on runs in the environment this sets up.
    prepareCommandEnvironment();
    std::string psqlPath = "psql";
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

    std::string password;
    if (readPassword(password) != 0 || exportConnection(options, password) != 0)
        return 1;

    std::cout << "\n==== COMPLIANT RESULTS ====" << std::endl;
    std::cout << "Validating main user..." << std::endl;
    const std::string mainOutput = checkRole(psqlPath, options.mainuser, CheckedUser::Main);

    if (!options.internaluser.empty()) {
        std::cout << "\nValidating internal user..." << std::endl;
        const std::string internalOutput =
            checkRole(psqlPath, options.internaluser, CheckedUser::Internal, options.mainuser);
        if (passesWithoutSuperuser(mainOutput))
            warnIfMainCannotManage(internalOutput, options.internaluser, options.mainuser);
    }
    // A report lost on the way (a full disk, a closed standard output) must not pass
    // for one read: a script finding no FAILED line in an empty file takes the roles
    // for ready.
    if (!std::cout.flush()) {
        std::cerr << kReportNotWritten << std::endl;
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    keepSecretsOutOfDumps();
    try {
        std::vector<std::string> arguments;
        if (commandLineArguments(argc, argv, arguments) != 0) {
            std::cout << kNoText << std::endl;
            return 1;
        }
        std::vector<const char*> pointers;
        for (const std::string& argument : arguments)
            pointers.push_back(argument.c_str());
        return checkRoles(static_cast<int>(pointers.size()), pointers.data());
    } catch (...) {
        std::cout << "Could not check postgres user compliance" << std::endl;
        return 1;
    }
}
