// commandline.cpp - the conventions, the help's layout and the readers of commandline.h.
#include "commandline.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>

namespace commandline {

namespace {

// The help's layout. One object serves a program and all its commands (CLI11 hands a
// program's formatter on to the commands declared after it).
class Help : public CLI::Formatter {
  public:
    static constexpr std::size_t kWidth = 90; // the widest line the help's texts are wrapped to

    explicit Help(std::vector<std::string> singleDash) : singleDash_(std::move(singleDash)) {}

    struct Lines {
        std::vector<std::string> synopses;
        std::string summary;
    };
    std::map<const CLI::App*, Lines> usage;

    // TEXT with every single-dash name written as it is typed: "--ss" as "-ss".
    std::string spelled(std::string text) const {
        for (const std::string& n : singleDash_) {
            const std::string declared = "--" + n;
            for (auto at = text.find(declared); at != std::string::npos;
                 at = text.find(declared, at + 1)) {
                const char next =
                    at + declared.size() < text.size() ? text[at + declared.size()] : ' ';
                if (!std::isalnum(static_cast<unsigned char>(next)) && next != '-') {
                    text.erase(at, 1);
                }
            }
        }
        return text;
    }
    // ARG as CLI11 reads it: "-ss" and "-ss=5" as "--ss" and "--ss=5".
    std::string declared(const std::string& arg) const {
        for (const std::string& n : singleDash_) {
            if (arg == "-" + n || arg.rfind("-" + n + "=", 0) == 0) {
                return "-" + arg;
            }
        }
        return arg;
    }

    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override {
        if (mode == CLI::AppFormatMode::Sub) {
            return make_expanded(app);
        }
        std::string text = make_usage(app, name) + "\n" + make_description(app) +
                           make_positionals(app) + make_groups(app, mode) +
                           make_subcommands(app, mode) + "\n" + make_footer(app);
        // One blank line between the groups, where CLI11 puts two.
        for (auto at = text.find("\n\n\n"); at != std::string::npos; at = text.find("\n\n\n")) {
            text.erase(at, 1);
        }
        return text;
    }
    // Each synopsis on a line of its own, wrapped before a "[" at the help's width.
    std::string make_usage(const CLI::App* app, std::string name) const override {
        const auto it = usage.find(app);
        if (it == usage.end()) {
            return CLI::Formatter::make_usage(app, name);
        }
        std::string text;
        for (const std::string& s : it->second.synopses) {
            std::string line = (text.empty() ? "usage: " : "       ") + name;
            const std::size_t indent = line.size() + 1;
            for (std::size_t at = 0; at < s.size();) {
                const std::size_t end = std::min(s.find(" [", at + 1), s.size());
                const std::string piece = s.substr(at, end - at);
                if (at > 0 && line.size() + 1 + piece.size() > kWidth) {
                    text += line + "\n";
                    line = std::string(indent - 1, ' ');
                }
                line += " " + piece;
                at = end + 1;
            }
            text += line + "\n";
        }
        return text;
    }
    std::string make_subcommand(const CLI::App* sub) const override {
        const auto it = usage.find(sub);
        if (it == usage.end() || it->second.synopses.empty()) {
            return CLI::Formatter::make_subcommand(sub);
        }
        std::stringstream out;
        const std::string& s = it->second.synopses.front();
        CLI::detail::format_help(out, sub->get_name() + (s.empty() ? "" : " ") + s,
                                 it->second.summary, column_width_);
        return out.str();
    }
    std::string make_option_name(const CLI::Option* opt, bool positional) const override {
        return spelled(CLI::Formatter::make_option_name(opt, positional));
    }

  private:
    std::vector<std::string> singleDash_;
};

Help& HelpOf(const CLI::App& app) {
    return dynamic_cast<Help&>(*app.get_formatter());
}

// The option NAME of CMD or of a command it is part of, if it takes a value.
const CLI::Option* ValueOption(const CLI::App* cmd, const std::string& name) {
    for (; cmd; cmd = cmd->get_parent()) {
        const CLI::Option* opt = cmd->get_option_no_throw(name);
        if (opt && !opt->get_positional()) {
            return opt->get_items_expected_min() > 0 ? opt : nullptr;
        }
    }
    return nullptr;
}

// Brings ARGS to the form CLI11 reads (single-dash names) and refuses an option that takes
// the place of a value: CLI11 would take it as the value.
std::optional<std::string> Prepared(const CLI::App& app, std::vector<std::string>& args) {
    const Help& help = HelpOf(app);
    const CLI::App* cmd = &app;
    for (std::size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
        args[i] = help.declared(args[i]);
        for (const CLI::App* sub : cmd->get_subcommands([](const CLI::App*) { return true; })) {
            if (sub->check_name(args[i])) {
                cmd = sub;
            }
        }
        const bool option = i + 1 < args.size() && help.declared(args[i + 1]).rfind("--", 0) == 0 &&
                            args[i + 1].size() > 2;
        if (option && ValueOption(cmd, args[i])) {
            return help.spelled(args[i]) + " needs a value, not the option '" + args[i + 1] + "'";
        }
    }
    return std::nullopt;
}

// The one line for a refusal, in the programs' own words where CLI11's are vaguer. What is
// left over is named first, in the order given: a mistyped option explains the rest.
std::string Refusal(const CLI::App& app, const CLI::ParseError& e,
                    const std::vector<std::string>& given) {
    const std::vector<std::string> left = app.remaining(true);
    const auto first = std::find_if(given.begin(), given.end(), [&](const std::string& a) {
        return std::find(left.begin(), left.end(), HelpOf(app).declared(a)) != left.end();
    });
    if (first != given.end()) {
        if (app.get_subcommands().empty() && first->rfind('-', 0) != 0) {
            return "unknown command '" + *first + "' (see " + app.get_name() + " --help)";
        }
        const bool option = first->size() > 1 && (*first)[0] == '-';
        return (option ? "unknown option '" : "unexpected argument '") + *first +
               "' (see --help)";
    }
    std::string text = HelpOf(app).spelled(e.what());
    // "--fade-in: 1 required N missing": a value forgotten at the end of the line.
    const auto colon = text.find(": ");
    if (e.get_name() == "ArgumentMismatch" && colon != std::string::npos &&
        text.find("missing", colon) != std::string::npos) {
        return text.substr(0, colon) + " needs a value";
    }
    if (colon != std::string::npos && text.compare(colon, 8, ": wants ") == 0) {
        text.erase(colon, 1); // "--crf wants ...", as the values' own checks say it
    }
    return text;
}

[[noreturn]] void Refuse(const std::string& wants, const std::string& v) {
    throw CLI::ValidationError("wants " + wants + ", not '" + v + "'");
}

} // namespace

void Prepare(CLI::App& app, std::vector<std::string> singleDash) {
    auto help = std::make_shared<Help>(std::move(singleDash));
    help->column_width(24);
    help->label("Positionals", "Operands");
    help->label("REQUIRED", "(required)");
    app.formatter(help);
    app.set_help_flag("-h,--help", "show this help");
    app.group("Commands");
    // One rule for every option that takes one value: the last one given counts, so that a
    // script's defaults can be overridden by what follows them.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

void Usage(CLI::App& cmd, std::vector<std::string> synopses, std::string summary) {
    HelpOf(cmd).usage[&cmd] = {std::move(synopses), std::move(summary)};
}

std::optional<int> Parse(CLI::App& app, std::vector<std::string> args) {
    if (args.empty()) {
        std::fputs(app.help().c_str(), stderr);
        return kUsageStatus;
    }
    if (args.front() == "help") {
        args.front() = "--help"; // as the programs have always taken it
    }
    const std::vector<std::string> original = args;
    try {
        if (const auto refused = Prepared(app, args)) {
            std::fprintf(stderr, "%s: %s\n", app.get_name().c_str(), refused->c_str());
            return kUsageStatus;
        }
        std::reverse(args.begin(), args.end()); // CLI11 takes them from the back
        app.parse(args);
        return std::nullopt;
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::string text = Refusal(app, e, original);
        std::replace(text.begin(), text.end(), '\n', ' ');
        std::fprintf(stderr, "%s: %s\n", app.get_name().c_str(), text.c_str());
        return kUsageStatus;
    }
}

long long Whole(const std::string& v, long long lo, long long hi) {
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(v.c_str(), &end, 10);
    if (v.empty() || *end || errno || n < lo || n > hi) {
        Refuse("a whole number from " + std::to_string(lo) + " to " + std::to_string(hi), v);
    }
    return n;
}

double Number(const std::string& v) {
    char* end = nullptr;
    const double x = std::strtod(v.c_str(), &end);
    if (v.empty() || *end || !std::isfinite(x)) {
        Refuse("a number", v);
    }
    return x;
}

std::vector<double> Numbers(const std::string& v, std::size_t count) {
    std::vector<double> values;
    try {
        for (std::size_t at = 0; values.size() < count;) {
            const std::size_t end = values.size() + 1 < count ? v.find(',', at) : v.size();
            if (end == std::string::npos) {
                break;
            }
            values.push_back(Number(v.substr(at, end - at)));
            at = end + 1;
        }
    } catch (const CLI::ValidationError&) {
        values.clear();
    }
    if (values.size() != count) {
        Refuse(std::to_string(count) + " numbers separated by commas", v);
    }
    return values;
}

std::pair<long long, long long> WholePair(const std::string& v, char separator, long long lo,
                                         long long hi, const std::string& wants) {
    const auto at = v.find(separator);
    try {
        if (at != std::string::npos) {
            return {Whole(v.substr(0, at), lo, hi), Whole(v.substr(at + 1), lo, hi)};
        }
    } catch (const CLI::ValidationError&) {
    }
    Refuse(wants, v);
}

std::pair<int, int> Block(const std::string& v, int least) {
    const auto [w, h] = WholePair(v, ',', least, 250,
                                  "W,H in thousandths of the frame, each a whole number from " +
                                      std::to_string(least) + " to 250");
    return {int(w), int(h)};
}

CLI::Validator WholeFrom(long long lo, long long hi) {
    return CLI::Validator(
        [lo, hi](std::string& v) {
            v = std::to_string(Whole(v, lo, hi));
            return std::string();
        },
        "");
}

CLI::Validator Finite() {
    return CLI::Validator(
        [](std::string& v) {
            Number(v);
            return std::string();
        },
        "");
}

std::string Listed(const std::vector<std::string>& names, const std::string& between,
                   const std::string& beforeLast) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        list += (i == 0 ? "" : i + 1 < names.size() ? between : beforeLast) + names[i];
    }
    return list;
}

CLI::Validator OneOf(std::vector<std::string> names) {
    return CLI::Validator(
        [names](std::string& v) {
            if (std::find(names.begin(), names.end(), v) == names.end()) {
                Refuse(Listed(names), v);
            }
            return std::string();
        },
        "");
}

} // namespace commandline
