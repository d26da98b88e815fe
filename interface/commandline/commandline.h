// commandline.h - how the project's programs (fxhost, tessera-config) read their command
// lines: each declares its commands and options once, as one table on a CLI::App (name,
// argument, destination, help), and its help is printed from that table.
//
// Owns: the conventions every program follows (Prepare), the help's layout (usage lines
// first, names as they are typed), and the readers of values several programs take.
// Promises: options go before or after the operands, as "--name value" or "--name=value";
// a repeated option takes its last value; an option where a value belongs (-o --proxy) is
// refused, not taken as a name (--output=--proxy still is one); every refusal is one line
// "PROGRAM: ..." on standard error and exit status 2; help and version go to standard
// output with status 0, and nothing else is printed.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace commandline {

constexpr int kUsageStatus = 2;

// Sets the conventions on APP before anything is declared on it: its commands and options
// inherit them. SINGLE_DASH are long names typed with one dash, as ffmpeg's options are
// ("ss" for -ss): they are declared with two (CLI11 knows no other long form) and are read,
// shown in the help and named in refusals with one.
void Prepare(CLI::App& app, std::vector<std::string> singleDash = {});

// The lines CMD's help starts with, "usage: PROGRAM COMMAND SYNOPSIS" for each synopsis, and
// its line in the list of its program's commands: the first synopsis and SUMMARY.
void Usage(CLI::App& cmd, std::vector<std::string> synopses, std::string summary = "");

// Reads ARGS (without the program's name) into APP's table, calling the options' readers.
// nullopt: run the chosen command; else the status to exit with, its help, version or
// refusal printed. Without any argument the program's help goes to standard error.
std::optional<int> Parse(CLI::App& app, std::vector<std::string> args);

// The readers. Each refuses a value by throwing CLI::ValidationError with what the option
// wants, which CLI11 turns into a refusal naming the option ("--opacity: wants ...").
long long Whole(const std::string& v, long long lo, long long hi);    // decimal
double Number(const std::string& v);                                  // finite, as strtod reads
std::vector<double> Numbers(const std::string& v, std::size_t count); // "A,B,C"
// Two whole numbers from lo to hi joined by `separator` ("W,H", "WxH"); a refusal says that
// the option wants `wants`.
std::pair<long long, long long> WholePair(const std::string& v, char separator, long long lo,
                                         long long hi, const std::string& wants);
// W,H in thousandths of the frame, each from `least` to 250.
std::pair<int, int> Block(const std::string& v, int least);

// For options bound to a variable: a whole number from lo to hi (read as Whole reads it,
// where CLI11 alone would take 010 for 8); a finite number; one of `names`.
CLI::Validator WholeFrom(long long lo, long long hi);
CLI::Validator Finite();
CLI::Validator OneOf(std::vector<std::string> names);

// NAMES as a help or a refusal lists them: "a, b or c" by default.
std::string Listed(const std::vector<std::string>& names, const std::string& between = ", ",
                   const std::string& beforeLast = " or ");

} // namespace commandline
