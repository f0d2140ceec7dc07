#include "tools/cli/CommandLine.h"

#include <algorithm>
#include <memory>
#include <ostream>

#include "rd/Version.h"

namespace rd::cli {
namespace {

// CLI11 names the option first: "--out: 1 required TEXT missing".
std::string NameOf(const std::string& message) {
  const auto colon = message.find(':');
  return colon == std::string::npos ? std::string() : message.substr(0, colon);
}

const CLI::Option* FindOption(const CLI::App& app, const std::string& name) {
  if (const CLI::Option* o = app.get_option_no_throw(name)) return o;
  for (const CLI::App* sub : app.get_subcommands(
           [](const CLI::App*) { return true; }))  // every subcommand, chosen or not
    if (const CLI::Option* o = FindOption(*sub, name)) return o;
  return nullptr;
}

std::string Describe(const CLI::App& app, const CLI::ParseError& e) {
  const std::string what = e.what();
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
    const std::string name = NameOf(what);
    if (const CLI::Option* o = name.empty() ? nullptr : FindOption(app, name))
      return name + " needs " + (o->get_description().empty() ? "a value" : o->get_description());
  }
  return what;
}

}  // namespace

void Configure(CLI::App& app, const std::string& help_text, const std::string& program) {
  app.formatter(std::make_shared<VerbatimHelp>(help_text));
  app.set_help_flag("-h,--help");
  if (!program.empty()) app.set_version_flag("--version", program + " " + kVersion);
  app.allow_extras();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

CLI::Option* AddValue(CLI::App& app, const std::string& name, std::string& value,
                      const std::string& needs) {
  return app.add_option(name, value, needs);
}

CLI::Option* AddValue(CLI::App& app, const std::string& name, std::optional<std::string>& value,
                      const std::string& needs) {
  return app.add_option_function<std::string>(
      name, [&value](const std::string& v) { value = v; }, needs);
}

std::string UnknownOption(const CLI::App& app) {
  for (const std::string& a : app.remaining(true)) {
    if (a == "--") break;  // CLI11 keeps the end of the options among the leftovers
    if (a.size() > 1 && a[0] == '-') return a;
  }
  return "";
}

Parsed Parse(CLI::App& app, const std::vector<std::string>& args, bool check_unknown) {
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return {Parsed::kHelp, app.help()};
  } catch (const CLI::CallForAllHelp&) {
    return {Parsed::kHelp, app.help()};
  } catch (const CLI::CallForVersion& e) {
    return {Parsed::kVersion, std::string(e.what()) + "\n"};
  } catch (const CLI::ParseError& e) {
    return {Parsed::kError, Describe(app, e)};
  }
  const std::string unknown = check_unknown ? UnknownOption(app) : "";
  if (!unknown.empty()) return {Parsed::kError, "unknown option '" + unknown + "'"};
  return {};
}

std::optional<int> Finish(const Parsed& p, std::ostream& out, std::ostream& err,
                          const std::string& prefix, int usage_status) {
  switch (p.kind) {
    case Parsed::kGoOn:
      return std::nullopt;
    case Parsed::kHelp:
    case Parsed::kVersion:
      out << p.text;
      return 0;
    case Parsed::kError:
      err << prefix << ": " << p.text << "\n";
      return usage_status;
  }
  return std::nullopt;
}

}  // namespace rd::cli
