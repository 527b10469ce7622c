// Sub-commands of tavrelcut-cli. Each adds its sub-app (options, help) to
// the program's app and returns what runs it; run() returns the process
// exit status (0 success, 1 failure, 2 usage error).
#pragma once

#include "args.h"

namespace tavrel::cli {

Command addIndexCommand(CLI::App& app);
Command addGopsCommand(CLI::App& app);
Command addPidsCommand(CLI::App& app);
Command addInfoCommand(CLI::App& app);
Command addCutCommand(CLI::App& app);
Command addPreviewCommand(CLI::App& app);
Command addCheckCommand(CLI::App& app);
Command addErrorsCommand(CLI::App& app);
Command addThumbsCommand(CLI::App& app);
Command addDetectCommand(CLI::App& app);

}  // namespace tavrel::cli
