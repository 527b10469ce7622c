// Argument parsing shared by the commands: the help layout, number and PID
// readers with range checks, and the options built on them (CLI11).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include <CLI/CLI.hpp>

namespace tavrel::cli {

// Exit statuses of every command.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A command: its CLI11 sub-app and what runs it once the arguments are in.
struct Command {
    CLI::App* app = nullptr;
    std::function<int()> run;
};

// Help of one command: the hand-written synopsis first, then the text,
// then CLI11's list of options.
void setCommandHelp(CLI::App& app, const std::string& synopsis, const std::string& text);

// Whole-string numbers: decimal, or hexadecimal after 0x. No sign other
// than a leading '-', no blanks; nullopt on anything else or on overflow.
std::optional<int64_t> parseNumber(const std::string& s);
// A PID as "pids" and "gops" print it: hexadecimal with or without 0x,
// 0..1FFF.
std::optional<int32_t> parsePid(const std::string& s);
// Comma-separated PIDs; nullopt when any is not a PID or the list is empty.
std::optional<std::set<int32_t>> parsePidList(const std::string& s);

// An option holding a number in [lo, hi]; anything else is a usage error
// that names the range.
CLI::Option* addNumberOption(CLI::App& app, const std::string& name, std::optional<int64_t>& target, int64_t lo,
                             int64_t hi, const std::string& description);
// An option holding one PID (hexadecimal).
CLI::Option* addPidOption(CLI::App& app, const std::string& name, std::optional<int32_t>& target,
                          const std::string& description);

// Parses argv into app and reports what the command line asked beside
// running a command: nullopt when a command is to run, else the exit status
// (help and version printed: 0; usage error printed: 2).
std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv);

}  // namespace tavrel::cli
