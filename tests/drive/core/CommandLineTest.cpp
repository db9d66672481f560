#include <gtest/gtest.h>

#include "drive/core/CommandLine.h"

namespace {

using Action = CommandLine::Action;

TEST(CommandLineTest, FolderAlwaysGetsASeparator) {
  EXPECT_EQ(ParseCommandLine({"-d", "/opt/q"}).programFolder, "/opt/q/");
  EXPECT_EQ(ParseCommandLine({"-d", "/opt/q/"}).programFolder, "/opt/q//");
}

TEST(CommandLineTest, DashDAloneIsIgnored) {
  CommandLine line = ParseCommandLine({"-d"});
  EXPECT_EQ(line.programFolder, "");
  EXPECT_EQ(line.action, Action::kRun);
}

TEST(CommandLineTest, ModeWordsEndTheExamination) {
  CommandLine line = ParseCommandLine({"-t", "-i", "-d", "/x", "-u"});
  EXPECT_EQ(line.action, Action::kInstall);
  EXPECT_TRUE(line.tether);
  EXPECT_EQ(line.programFolder, "");
  EXPECT_EQ(ParseCommandLine({"-u", "-i"}).action, Action::kRemove);
  EXPECT_EQ(ParseCommandLine({"-d", "/p", "service", "-t"}).action, Action::kService);
  EXPECT_FALSE(ParseCommandLine({"service", "-t"}).tether);
  EXPECT_EQ(ParseCommandLine({"x", "--help", "-i"}).action, Action::kHelp);
  EXPECT_EQ(ParseCommandLine({"-u", "-h"}).action, Action::kRemove);
}

TEST(CommandLineTest, CaseMattersAndUnknownArgumentsAreIgnored) {
  CommandLine line = ParseCommandLine({"-I", "SERVICE", "x", "-T", "-H", "-help", "-t"});
  EXPECT_EQ(line.action, Action::kRun);
  EXPECT_TRUE(line.tether);
  // A folder argument is consumed even when it looks like an option.
  EXPECT_EQ(ParseCommandLine({"-d", "-i"}).action, Action::kRun);
  EXPECT_EQ(ParseCommandLine({"-d", "-i"}).programFolder, "-i/");
}

}  // namespace
