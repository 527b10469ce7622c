#include "args.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>

#include "printable_name.h"

namespace tavrel::cli {

namespace {

// usage line, description, then the options as CLI11 lists them.
class HelpLayout : public CLI::Formatter {
public:
    HelpLayout(std::string synopsis, std::string text) : m_synopsis(std::move(synopsis)), m_text(std::move(text)) {
        column_width(26);
    }
    std::string make_help(const CLI::App* app, std::string, CLI::AppFormatMode mode) const override {
        std::ostringstream out;
        out << m_synopsis << "\n";
        if (!m_text.empty()) out << "\n" << m_text << "\n";
        out << make_positionals(app) << make_groups(app, mode) << make_subcommands(app, mode);
        return out.str();
    }
    // "--gop N": the value's name only; the synopsis tells what excludes what.
    std::string make_option_opts(const CLI::Option* opt) const override {
        if (opt->get_type_size() == 0 || opt->get_positional()) return "";
        const std::string type = opt->get_type_name();
        return type.empty() ? "" : " " + type;
    }

private:
    std::string m_synopsis;
    std::string m_text;
};

std::string rangeText(int64_t lo, int64_t hi) { return std::to_string(lo) + " to " + std::to_string(hi); }

// The command the user named (the top app when none was reached).
const CLI::App* selectedCommand(const CLI::App& app) {
    const CLI::App* at = &app;
    for (;;) {
        const auto subs = at->get_subcommands();
        if (subs.empty()) return at;
        at = subs.front();
    }
}

}  // namespace

void setCommandHelp(CLI::App& app, const std::string& synopsis, const std::string& text) {
    app.formatter(std::make_shared<HelpLayout>(synopsis, text));
}

std::optional<int64_t> parseNumber(const std::string& s) {
    size_t at = 0;
    const bool negative = !s.empty() && s[0] == '-';
    if (negative) at = 1;
    int base = 10;
    if (s.size() > at + 2 && s[at] == '0' && (s[at + 1] == 'x' || s[at + 1] == 'X')) {
        base = 16;
        at += 2;
    }
    if (at >= s.size()) return std::nullopt;
    for (size_t i = at; i < s.size(); ++i) {
        const char c = s[i];
        const bool digit = (c >= '0' && c <= '9') || (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!digit) return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    // Parsed with its sign so that the lowest value is reachable.
    const std::string body = (negative ? "-" : "") + s.substr(at);
    const long long v = std::strtoll(body.c_str(), &end, base);
    if (errno == ERANGE || *end != '\0') return std::nullopt;
    return static_cast<int64_t>(v);
}

std::optional<int32_t> parsePid(const std::string& s) {
    size_t at = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') ? 2 : 0;
    if (at >= s.size() || s.size() - at > 4) return std::nullopt;
    int32_t v = 0;
    for (size_t i = at; i < s.size(); ++i) {
        const char c = s[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        v = v * 16 + d;
    }
    if (v > 0x1FFF) return std::nullopt;
    return v;
}

std::optional<std::set<int32_t>> parsePidList(const std::string& s) {
    std::set<int32_t> pids;
    size_t pos = 0;
    for (;;) {
        size_t comma = s.find(',', pos);
        if (comma == std::string::npos) comma = s.size();
        const auto pid = parsePid(s.substr(pos, comma - pos));
        if (!pid) return std::nullopt;
        pids.insert(*pid);
        if (comma == s.size()) break;
        pos = comma + 1;
    }
    return pids;
}

CLI::Option* addNumberOption(CLI::App& app, const std::string& name, std::optional<int64_t>& target, int64_t lo,
                             int64_t hi, const std::string& description) {
    auto* opt = app.add_option_function<std::string>(
        name,
        [&target, lo, hi, name](const std::string& s) {
            const auto v = parseNumber(s);
            if (!v || *v < lo || *v > hi)
                throw CLI::ValidationError(name, "'" + s + "' is not a number from " + rangeText(lo, hi));
            target = *v;
        },
        description);
    opt->type_name("N");
    return opt;
}

CLI::Option* addPidOption(CLI::App& app, const std::string& name, std::optional<int32_t>& target,
                          const std::string& description) {
    auto* opt = app.add_option_function<std::string>(
        name,
        [&target, name](const std::string& s) {
            const auto v = parsePid(s);
            if (!v) throw CLI::ValidationError(name, "'" + s + "' is not a PID (hexadecimal 0000 to 1FFF)");
            target = *v;
        },
        description);
    opt->type_name("PID");
    return opt;
}

std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
        return std::nullopt;
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return kExitOk;
    } catch (const CLI::CallForAllHelp&) {
        std::cout << app.help();
        return kExitOk;
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << "\n";
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        const CLI::App* command = selectedCommand(app);
        std::string name = app.get_name();
        if (command != &app) name += " " + command->get_name();
        if (command == &app && argc < 2) {
            std::cerr << app.help();
            return kExitUsage;
        }
        // The message may quote an argument: a file name with a line break.
        std::cerr << name << ": " << printableText(e.what()) << "\n"
                  << "Run '" << name << " --help' for the options.\n";
        return kExitUsage;
    }
}

}  // namespace tavrel::cli
