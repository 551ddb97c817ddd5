// The window program's command line: switches in their cases, unknown switches against
// paths that begin with "/", titles and ports, the whole command line.
#include <gtest/gtest.h>

#include <set>

#include "shell/command_line.h"

namespace {

// Files that "exist" for the parser.
StartOptions Parse(const std::vector<std::string>& args,
                   const std::set<std::string>& files = {"/home/me/a.prc", "b.pdb"}) {
    StartOptions options;
    ParseCommandLine(
        args, [&](const std::string& path) { return files.count(path) > 0; }, options);
    return options;
}

TEST(CommandLine, PortSwitchesOnlyInUpperCaseOthersInAnyCase) {
    StartOptions o = Parse({"/com1", "/COM9", "/COM0", "/COM12", "/close", "/IgnoreHS"});
    EXPECT_TRUE(o.strPort.empty());
    EXPECT_TRUE(o.files.empty());  // ignored switches are not taken as files
    EXPECT_TRUE(o.bClose);
    EXPECT_TRUE(o.bIgnoreHotSync);

    o = Parse({"/COM3", "/USB", "/COM8"});
    EXPECT_EQ(o.strPort, "/COM8");  // the last one counts; /USB changes nothing
    o = Parse({"/usb"});
    EXPECT_TRUE(o.strPort.empty() && o.strPortDevice.empty() && o.files.empty());
}

TEST(CommandLine, TitleTakesTheNextArgumentWhateverItIs) {
    EXPECT_EQ(Parse({"/TITLE"}).strTitle, "");
    StartOptions o = Parse({"/Title", "/CLOSE"});
    EXPECT_EQ(o.strTitle, "/CLOSE");
    EXPECT_FALSE(o.bClose);
    EXPECT_EQ(Parse({"/TITLE", "one", "/title", "two"}).strTitle, "two");
    EXPECT_EQ(Parse({"--title", "A b"}).strTitle, "A b");
    EXPECT_EQ(Parse({"--title=x=y"}).strTitle, "x=y");
    EXPECT_EQ(Parse({"--title"}).strTitle, "");
}

TEST(CommandLine, SlashArgumentsAreFilesOnlyWhenTheyOpen) {
    StartOptions o = Parse({"/home/me/a.prc", "/home/me/gone.prc", "", "b.pdb", "c.prc"});
    ASSERT_EQ(o.files.size(), 2u);
    EXPECT_EQ(o.files[0], "/home/me/a.prc");
    // Relative paths become full ones: the first instance has another directory.
    EXPECT_EQ(o.files[1], FullPath("b.pdb"));
    EXPECT_EQ(o.files[1].front(), '/');
    EXPECT_EQ(o.files[1].substr(o.files[1].size() - 6), "/b.pdb");
    // A file may be named like a switch.
    o = Parse({"/CLOSE"}, {"/CLOSE"});
    EXPECT_TRUE(o.bClose);
    EXPECT_TRUE(o.files.empty());
    o = Parse({"/com1"}, {"/com1"});
    EXPECT_EQ(o.files, std::vector<std::string>{"/com1"});
}

TEST(CommandLine, LongOptions) {
    StartOptions o = Parse({"--close", "--ignore-hs", "--port", "com4", "--help", "--version"});
    EXPECT_TRUE(o.bClose && o.bIgnoreHotSync && o.bHelp && o.bVersion);
    EXPECT_FALSE(o.bUnregisterTypes);
    EXPECT_EQ(o.strPort, "com4");
    o = Parse({"--unregister-types"});
    EXPECT_TRUE(o.bUnregisterTypes);
    EXPECT_TRUE(o.files.empty());
    o = Parse({"/COM2", "--port=/dev/pts/7"});
    EXPECT_EQ(o.strPortDevice, "/dev/pts/7");
    EXPECT_TRUE(o.strPort.empty());
    o = Parse({"--port", "/dev/ttyUSB0", "/COM5"});
    EXPECT_EQ(o.strPort, "/COM5");
    EXPECT_TRUE(o.strPortDevice.empty());
    o = Parse({"--port", "USB"});
    EXPECT_TRUE(o.strPort.empty() && o.strPortDevice.empty() && o.warnings.empty());
    o = Parse({"--port", "COM9", "--port"});
    EXPECT_TRUE(o.strPort.empty());
    EXPECT_EQ(o.warnings.size(), 2u);
    // Long options are written as they are listed.
    EXPECT_FALSE(Parse({"--CLOSE"}).bClose);
}

TEST(CommandLine, WholeCommandLineJoinsWithSingleBlanks) {
    EXPECT_EQ(JoinCommandLine({"/home/me/My", "Files/a", "b.prc"}), "/home/me/My Files/a b.prc");
    EXPECT_EQ(JoinCommandLine({"a", "", "b"}), "a  b");
    EXPECT_EQ(JoinCommandLine({}), "");
}

}  // namespace
