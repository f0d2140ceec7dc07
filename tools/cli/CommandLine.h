#pragma once
// The command lines of the headless tools: CLI11 parses them, every tool
// answers -h/--help with its own help text and --version with the project
// version, and bad usage is one line "TOOL: message" on standard error.

#include <CLI/CLI.hpp>

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace rd::cli {

// Help that is the tool's own text, word for word.
class VerbatimHelp : public CLI::FormatterBase {
 public:
  explicit VerbatimHelp(std::string text) : text_(std::move(text)) {}
  std::string make_help(const CLI::App*, std::string, CLI::AppFormatMode) const override {
    return text_;
  }

 private:
  std::string text_;
};

// Gives `app` its help text and -h/--help; with `program` also --version
// ("PROGRAM VERSION"). Options given twice keep the last value, unknown
// options are left for UnknownOption() rather than thrown.
void Configure(CLI::App& app, const std::string& help_text, const std::string& program = "");

// Adds an option taking one value into `value`. `needs` says what the value
// is ("a folder"): a missing value reads "NAME needs a folder".
CLI::Option* AddValue(CLI::App& app, const std::string& name, std::string& value,
                      const std::string& needs = "a value");
// The same for an option whose value is optional in the program.
CLI::Option* AddValue(CLI::App& app, const std::string& name, std::optional<std::string>& value,
                      const std::string& needs = "a value");

// The outcome of Parse().
struct Parsed {
  enum Kind { kGoOn, kHelp, kVersion, kError } kind = kGoOn;
  std::string text;  // the help or version text, or the error message
};

// Parses `args` (without the program name). After a successful parse an
// unknown option (one CLI11 left over) is an error as well, unless the
// leftovers are the caller's (`check_unknown` false: a command and its
// arguments after the options of a prefix command).
Parsed Parse(CLI::App& app, const std::vector<std::string>& args, bool check_unknown = true);

// Prints the help or version on `out` (status 0) or "PREFIX: message" on
// `err` (status `usage_status`); nullopt when the program goes on.
std::optional<int> Finish(const Parsed& p, std::ostream& out, std::ostream& err,
                          const std::string& prefix, int usage_status);

// The first option left over by the parse of `app` or its chosen
// subcommands, or "".
std::string UnknownOption(const CLI::App& app);

}  // namespace rd::cli
