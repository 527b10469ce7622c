// Sub-commands of tavrelcut-cli. Each takes argv with argv[0] the command
// name and returns the process exit status.
#pragma once

namespace tavrel::cli {

int cmdIndex(int argc, char** argv);
int cmdGops(int argc, char** argv);
int cmdPids(int argc, char** argv);
int cmdCut(int argc, char** argv);
int cmdPreview(int argc, char** argv);

}  // namespace tavrel::cli
