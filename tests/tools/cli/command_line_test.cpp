// The tools' shared command-line parsing: help and version, the words of
// usage errors, repeated options and the "--name=value" form.

#include "tools/cli/CommandLine.h"

#include <gtest/gtest.h>

#include <sstream>

#include "rd/Version.h"

namespace rd::cli {
namespace {

struct Line {
  CLI::App app;
  std::optional<std::string> out;
  std::string level;
  bool flag = false;
  std::vector<std::string> files;
  Line() {
    Configure(app, "Usage: tool [--flag] --out DIR FILE...\n", "tool");
    AddValue(app, "--out", out, "a folder");
    AddValue(app, "--level", level);
    app.add_flag("-f,--flag", flag);
    app.add_option("files", files);
  }
};

TEST(CommandLine, HelpVersionAndUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    Parsed::Kind kind;
    std::string text;
  } cases[] = {
      {{"--help"}, Parsed::kHelp, "Usage: tool [--flag] --out DIR FILE...\n"},
      {{"a", "-h"}, Parsed::kHelp, "Usage: tool [--flag] --out DIR FILE...\n"},
      {{"--version"}, Parsed::kVersion, std::string("tool ") + kVersion + "\n"},
      {{"a", "--out"}, Parsed::kError, "--out needs a folder"},
      {{"--level"}, Parsed::kError, "--level needs a value"},
      {{"--bogus", "a"}, Parsed::kError, "unknown option '--bogus'"},
      {{"-x"}, Parsed::kError, "unknown option '-x'"},
  };
  for (const Case& c : cases) {
    Line l;
    const Parsed p = Parse(l.app, c.args);
    EXPECT_EQ(p.kind, c.kind) << c.args[0];
    EXPECT_EQ(p.text, c.text);
  }
}

TEST(CommandLine, ValuesFlagsAndPositionals) {
  Line l;
  const Parsed p =
      Parse(l.app, {"one", "--out", "d1", "-f", "--level=3", "-", "--out", "d2", "--", "--two"});
  ASSERT_EQ(p.kind, Parsed::kGoOn) << p.text;
  EXPECT_EQ(l.out, "d2");  // the last of a repeated option
  EXPECT_EQ(l.level, "3");
  EXPECT_TRUE(l.flag);
  EXPECT_EQ(l.files, (std::vector<std::string>{"one", "-", "--two"}));
}

TEST(CommandLine, FinishPrintsAndGivesTheStatus) {
  std::ostringstream out, err;
  EXPECT_EQ(Finish({Parsed::kError, "--out needs a folder"}, out, err, "tool", 2), 2);
  EXPECT_EQ(err.str(), "tool: --out needs a folder\n");
  EXPECT_EQ(Finish({Parsed::kVersion, "tool 1\n"}, out, err, "tool", 2), 0);
  EXPECT_EQ(out.str(), "tool 1\n");
  EXPECT_FALSE(Finish({}, out, err, "tool", 2));
}

}  // namespace
}  // namespace rd::cli
