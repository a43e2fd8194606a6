#include "app/core/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "dataset/os_file.h"
#include "dataset/os_locale.h"
#include "dataset/utils.h"
#include "support/temp_dir.h"

namespace clipra {
namespace {

using Strings = std::vector<std::string>;

// The options as one comparable, printable value.
auto Fields(const ExtractOptions& o) {
  return std::make_tuple(o.TopLeftX, o.TopLeftY, o.BotRightX, o.BotRightY, o.BgrColor);
}

// Forces the locale's decimal separator for one test.
class SeparatorScope {
 public:
  explicit SeparatorScope(char c) { SetLocaleDecimalSeparator(c); }
  ~SeparatorScope() { SetLocaleDecimalSeparator(0); }
};

// Sets or clears an environment variable for one test.
class EnvScope {
 public:
  EnvScope(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~EnvScope() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class SettingsFileTest : public ::testing::Test {
 protected:
  std::string Ini() const { return dir_.Path("clipra.ini"); }
  std::string IniWith(const std::string& text) {
    dir_.WriteFile("clipra.ini", text);
    return Ini();
  }
  Settings LoadWith(const std::string& text) { return LoadSettings(IniWith(text)); }
  TempDir dir_;
};

TEST_F(SettingsFileTest, MissingFileOrKeysGiveDefaults) {
  const Settings s = LoadSettings(Ini());
  EXPECT_EQ("", s.InFile);
  EXPECT_EQ("map.bmp", s.OutName);
  EXPECT_EQ(Fields({0, 0, 0, 0, 0}), Fields(s.Options));
  EXPECT_FALSE(FileExists(Ini())) << "loading must not create the file";

  const Settings some = LoadWith("[Names]\r\nInFile=a.ers\r\n[Options]\r\nBotRightY=7\r\n");
  EXPECT_EQ("a.ers", some.InFile);
  EXPECT_EQ("map.bmp", some.OutName);
  EXPECT_EQ(Fields({0, 0, 0, 7, 0}), Fields(some.Options));
}

TEST_F(SettingsFileTest, CornersReadWithEitherDecimalSeparator) {
  const Settings s =
      LoadWith("[Options]\nTopLeftX=12,5\nTopLeftY=12.5\nBotRightX= -3,25 \nBotRightY=abc\n");
  EXPECT_EQ(Fields({12.5, 12.5, -3.25, 0, 0}), Fields(s.Options))
      << "\"12,5\" reads as 12.5, text as 0";
}

TEST_F(SettingsFileTest, MalformedColourReadsBlackAndTopByteIsDropped) {
  EXPECT_EQ(0u, LoadWith("[Options]\nBgrColor=white\n").Options.BgrColor);
  EXPECT_EQ(0x00FFFFFFu, LoadWith("[Options]\nBgrColor=-1\n").Options.BgrColor);
  EXPECT_EQ(0x0000FF00u, LoadWith("[Options]\nBgrColor=$FF00\n").Options.BgrColor);
}

TEST_F(SettingsFileTest, SaveWritesExactlyTwoSectionsAndEightKeys) {
  SeparatorScope dot('.');
  Settings s;
  s.InFile = "/maps/ortho.ers";
  s.OutName = "/maps/cut.tif";
  s.Options = {100, 900, 600, 400.25, 16777215};
  s.ToolBar = false;
  std::string error;
  ASSERT_TRUE(SaveSettings(Ini(), s, &error)) << error;
  EXPECT_EQ(
      "[Names]\r\nInFile=/maps/ortho.ers\r\nOutName=/maps/cut.tif\r\n"
      "[Options]\r\nTopLeftX=100.000\r\nTopLeftY=900.000\r\nBotRightX=600.000\r\n"
      "BotRightY=400.250\r\nBgrColor=16777215\r\nToolBar=0\r\n",
      dir_.ReadFile("clipra.ini"));
  // A second save changes values in place and adds nothing.
  s.Options.TopLeftX = 345.5;
  ASSERT_TRUE(SaveSettings(Ini(), s));
  const SettingsFile ini(Ini());
  EXPECT_EQ((Strings{"Names", "Options"}), ini.ReadSections());
  EXPECT_EQ((Strings{"InFile", "OutName"}), ini.ReadSection("Names"));
  EXPECT_EQ((Strings{"TopLeftX", "TopLeftY", "BotRightX", "BotRightY", "BgrColor", "ToolBar"}),
            ini.ReadSection("Options"));
  EXPECT_EQ("345.500", ini.ReadString("Options", "TopLeftX", ""));
}

TEST_F(SettingsFileTest, ValuesAndLongPathsSurviveARestart) {
  Settings s;
  s.InFile = "/data/in file.ers";
  s.OutName = "out.osd";
  s.Options = {-12.125, 1e6, 3.5, 0.001, 0x123456};
  s.ToolBar = false;
  Settings long_paths;
  long_paths.InFile = "/" + std::string(300, 'd') + "/in.ers";
  long_paths.OutName = "  /" + std::string(290, 'o') + "/out.tif";
  for (const Settings& saved : {s, long_paths}) {
    ASSERT_TRUE(SaveSettings(Ini(), saved));
    const Settings back = LoadSettings(Ini());
    EXPECT_EQ(saved.InFile, back.InFile);
    EXPECT_EQ(saved.OutName.substr(saved.OutName.find_first_not_of(' ')), back.OutName)
        << "only leading blanks go";
    EXPECT_EQ(Fields(saved.Options), Fields(back.Options));
    EXPECT_EQ(saved.ToolBar, back.ToolBar);
  }
}

TEST_F(SettingsFileTest, SaveKeepsOtherSectionsKeysAndComments) {
  dir_.WriteFile("clipra.ini",
                 "; kept\n[Other]\nX=1\n\n[names]\nOutName=old.bmp\nExtra=yes\n\n[Tail]\nY=2\n");
  ASSERT_TRUE(SaveSettings(Ini(), Settings{}));
  EXPECT_EQ(
      "; kept\r\n[Other]\r\nX=1\r\n\r\n[names]\r\nOutName=map.bmp\r\nExtra=yes\r\n"
      "InFile=\r\n\r\n[Tail]\r\nY=2\r\n"
      "[Options]\r\nTopLeftX=0.000\r\nTopLeftY=0.000\r\nBotRightX=0.000\r\nBotRightY=0.000\r\n"
      "BgrColor=0\r\nToolBar=1\r\n",
      dir_.ReadFile("clipra.ini"));
}

TEST_F(SettingsFileTest, SaveCreatesMissingFoldersAndReportsFailureInTheSystemsWords) {
  const std::string path = dir_.Path("a/b/clipra.ini");
  ASSERT_TRUE(SaveSettings(path, Settings{}));
  EXPECT_EQ("map.bmp", LoadSettings(path).OutName);

  dir_.WriteFile("plain", "x");
  std::string error;
  EXPECT_FALSE(SaveSettings(dir_.Path("plain/clipra.ini"), Settings{}, &error));
  EXPECT_EQ(std::to_string(ENOTDIR) + " " + SystemErrorText(ENOTDIR), error);
}

using SettingsIniFile = SettingsFileTest;

TEST_F(SettingsIniFile, ReadsLfAndCrLfAndIgnoresCase) {
  const IniFile ini(IniWith("[One]\r\nA = 1 \r\nb=\"quoted \"\n[TWO]\nc='x'\nnot a key\n;d=4\n"));
  EXPECT_EQ("1", ini.ReadString("one", "a", "?"));
  EXPECT_EQ("quoted ", ini.ReadString("ONE", "B", "?"));
  EXPECT_EQ("x", ini.ReadString("two", "C", "?"));
  EXPECT_EQ("?", ini.ReadString("two", "d", "?")) << "comment lines are not keys";
  EXPECT_EQ("?", ini.ReadString("three", "a", "?"));
  EXPECT_EQ("?", ini.ReadString("two", "a", "?")) << "keys belong to their section";
  EXPECT_EQ(1, ini.ReadInteger("One", "A", 9));
  EXPECT_EQ(9, ini.ReadInteger("One", "B", 9));
  EXPECT_EQ((Strings{"c"}), ini.ReadSection("Two"));
}

TEST_F(SettingsIniFile, FirstOfTwoSectionsOfOneNameWins) {
  const IniFile ini(IniWith("[S]\nA=1\n[S]\nA=2\nB=3\n"));
  EXPECT_EQ("1", ini.ReadString("S", "A", ""));
  EXPECT_EQ("", ini.ReadString("S", "B", ""));
}

TEST_F(SettingsIniFile, ReadSectionValuesGivesValuesOnly) {
  const SettingsFile ini(IniWith("[S]\nA=1\nB=x=y\nC=\n[T]\nD=4\n"));
  Strings values{"stale"};
  ini.ReadSectionValues("s", values);
  EXPECT_EQ((Strings{"1", "x=y", ""}), values);
  ini.ReadSectionValues("missing", values);
  EXPECT_TRUE(values.empty());
}

TEST_F(SettingsIniFile, ReadFloatDefGivesTheDefaultForEmptyMalformedOrHugeValues) {
  const SettingsFile ini(IniWith("[S]\nA=\nB=1.2.3\nC=1e999\nD=2,5\n"));
  for (const char* key : {"A", "B", "C", "missing"})
    EXPECT_EQ(7, ini.ReadFloatDef("S", key, 7)) << key;
  EXPECT_EQ(2.5, ini.ReadFloatDef("S", "D", 7));
}

TEST_F(SettingsIniFile, NothingIsWrittenWithoutAChange) {
  EXPECT_EQ("d", IniFile(Ini()).ReadString("S", "A", "d"));
  EXPECT_FALSE(FileExists(Ini()));
  IniFile(Ini()).WriteString("S", "A", "line\nbreak");
  EXPECT_EQ("[S]\r\nA=line break\r\n", dir_.ReadFile("clipra.ini"));
}

TEST(SettingsLocationTest, WritableProgramFolderKeepsTheFileBesideTheProgram) {
  TempDir dir;
  const SettingsLocation loc = LocateSettings(dir.Path("clipra"), dir.Path("user/clipra.ini"));
  EXPECT_EQ(dir.Path("clipra.ini"), loc.read_path);
  EXPECT_EQ(dir.Path("clipra.ini"), loc.write_path);
}

TEST(SettingsLocationTest, ReadOnlyProgramFolderFallsBackToTheUserFile) {
  TempDir dir;
  ::mkdir(dir.Path("bin").c_str(), 0755);
  const std::string program = dir.Path("bin/clipra");
  const std::string user = dir.Path("home/clipra/clipra.ini");
  dir.WriteFile("bin/clipra.ini", "[Names]\nInFile=shipped.ers\n");
  ::chmod(dir.Path("bin/clipra.ini").c_str(), 0444);
  ::chmod(dir.Path("bin").c_str(), 0555);
  const bool denied = ::access(dir.Path("bin/clipra.ini").c_str(), W_OK) != 0;
  SettingsLocation before, after;
  if (denied) {
    // Until the user has a file of their own, the shipped one is read.
    before = LocateSettings(program, user);
    EXPECT_TRUE(SaveSettings(before.write_path, LoadSettings(before.read_path)));
    after = LocateSettings(program, user);
  }
  ::chmod(dir.Path("bin").c_str(), 0755);
  if (!denied) GTEST_SKIP() << "running with rights that ignore file permissions";
  EXPECT_EQ(dir.Path("bin/clipra.ini"), before.read_path);
  EXPECT_EQ(user, before.write_path);
  EXPECT_EQ(user, after.read_path);
  EXPECT_EQ(user, after.write_path);
  EXPECT_EQ("shipped.ers", LoadSettings(user).InFile);
}

TEST(SettingsLocationTest, UserFileHonoursXdgConfigHome) {
  {
    EnvScope xdg("XDG_CONFIG_HOME", "/cfg/");
    EXPECT_EQ("/cfg/clipra/clipra.ini", UserSettingsFile());
  }
  {
    EnvScope xdg("XDG_CONFIG_HOME", "relative");
    EnvScope home("HOME", "/home/u");
    EXPECT_EQ("/home/u/.config/clipra/clipra.ini", UserSettingsFile());
  }
  {
    EnvScope xdg("XDG_CONFIG_HOME", nullptr);
    EnvScope home("HOME", nullptr);
    EXPECT_EQ("", UserSettingsFile());
  }
}

}  // namespace
}  // namespace clipra
