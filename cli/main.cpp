// tavrelcut-cli: the cutting engine on the command line.
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "inputs.h"
#include "printable_name.h"

int main(int argc, char** argv) {
    using namespace tavrel::cli;
    CLI::App app("", "tavrelcut-cli");
    setCommandHelp(app,
                   "usage: tavrelcut-cli COMMAND [OPTIONS] ...\n"
                   "       tavrelcut-cli COMMAND --help\n"
                   "       tavrelcut-cli --version",
                   "Cuts MPEG-2 transport stream recordings at GOP boundaries without re-encoding.\n"
                   "Exit status: 0 success, 1 failure, 2 usage error.");
    app.set_help_flag("-h,--help", "print this help");
    app.set_version_flag("--version", std::string("tavrelcut-cli ") + TAVREL_VERSION, "print the version");
    app.require_subcommand(1);

    std::vector<Command> commands = {
        addIndexCommand(app), addGopsCommand(app), addCheckCommand(app),   addErrorsCommand(app), addPidsCommand(app),
        addInfoCommand(app),  addCutCommand(app),  addPreviewCommand(app), addThumbsCommand(app), addDetectCommand(app),
    };
    for (Command& c : commands) c.app->group("commands");

    // "tavrelcut-cli help" as the program's --help.
    if (argc == 2 && std::string(argv[1]) == "help") {
        std::cout << app.help();
        return kExitOk;
    }
    if (argc >= 2 && argv[1][0] != '-') {
        bool known = false;
        for (const Command& c : commands) known = known || c.app->get_name() == argv[1];
        if (!known) {
            std::cerr << "tavrelcut-cli: unknown command '" << tavrel::printableName(argv[1]) << "'\n"
                      << "Run 'tavrelcut-cli --help' for the commands.\n";
            return kExitUsage;
        }
    }
    if (const auto status = parseCommandLine(app, argc, argv)) return *status;

    installInterruptCleanup();
    for (Command& c : commands)
        if (c.app->parsed()) return c.run();
    return kExitUsage;
}
