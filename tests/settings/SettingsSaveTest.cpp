// Where the settings file lives and how a save replaces it.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <stdexcept>
#include <system_error>

#include "TestFiles.h"
#include "settings/SafeWrite.h"
#include "settings/SettingsDialog.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsLocation.h"

namespace {

namespace fs = std::filesystem;
using settings::SettingsFile;
using testfiles::Slurp;
using testfiles::Spit;

// Files of this process cannot grow beyond bytes while it lives, as on a full
// disk: a write past the limit fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    previous_ = signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, old_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, previous_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  sighandler_t previous_;
};

class SettingsSaveTest : public ::testing::Test {
 protected:
  fs::path Dir() const { return dir_.path().toStdString(); }
  fs::path File() const { return Dir() / "VavizEvu.ini"; }
  QTemporaryDir dir_;
};

TEST_F(SettingsSaveTest, LocationFollowsTheExecutablesFolder) {
  const testfiles::ReadOnlyFolder readOnly;
  const fs::path home = Dir() / "home";
  const auto user = [&](const fs::path& configHome) { return configHome / "cardstation" / "VavizEvu.ini"; };

  // No file beside a writable executable's folder: it will be created there.
  EXPECT_EQ(settings::ChooseSettingsPath({Dir(), "", home}), File());
  // The folder takes no file: the user's folder, $XDG_CONFIG_HOME when absolute.
  EXPECT_EQ(settings::ChooseSettingsPath({readOnly.Path(), "", home}), user(home / ".config"));
  EXPECT_EQ(settings::ChooseSettingsPath({readOnly.Path(), "/cfg", home}), user("/cfg"));
  EXPECT_EQ(settings::ChooseSettingsPath({readOnly.Path(), "relative/cfg", home}), user(home / ".config"));
  // An installed program never writes beside itself, even as root.
  EXPECT_EQ(settings::ChooseSettingsPath({"/usr/bin", "", home}), user(home / ".config"));
  EXPECT_EQ(settings::ChooseSettingsPath({"/usr/local/bin", "", home}), user(home / ".config"));
  // A file beside it wins; something else under its name does not count.
  Spit(File(), "");
  EXPECT_EQ(settings::ChooseSettingsPath({Dir(), "/cfg", home}), File());
  fs::remove(File());
  fs::create_directory(File());
  EXPECT_EQ(settings::ChooseSettingsPath({Dir(), "/cfg", home}), user("/cfg"));
}

// Sets the process's umask for the life of the object.
class Umask {
 public:
  explicit Umask(mode_t mask) : old_(::umask(mask)) {}
  ~Umask() { ::umask(old_); }
  Umask(const Umask&) = delete;
  Umask& operator=(const Umask&) = delete;

 private:
  mode_t old_;
};

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST_F(SettingsSaveTest, FirstSaveCreatesTheUsersFolderForThisUserAlone) {
  // With nothing masked, whatever the program asks for is what it gets.
  const Umask open(0);
  const fs::path path = Dir() / "config" / "cardstation" / "VavizEvu.ini";
  SettingsFile(path).WriteString("Settings", "comname", "COM2");
  EXPECT_EQ(Slurp(path), "[Settings]\ncomname=COM2\n");
  EXPECT_EQ(ModeOf(path), 0600u);
  EXPECT_EQ(ModeOf(path.parent_path()), 0700u);
  EXPECT_EQ(ModeOf(Dir() / "config"), 0700u);
  // A folder that is there keeps its mode.
  fs::permissions(path.parent_path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  settings::CreatePrivateFolders(path.parent_path());
  EXPECT_EQ(ModeOf(path.parent_path()), 0750u);
  // Something else under a folder's name is no folder.
  EXPECT_THROW(settings::CreatePrivateFolders(path / "below"), std::system_error);
}

TEST_F(SettingsSaveTest, SaveKeepsTheOwnerAndSharedNames) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
  Spit(File(), "[Settings]\ncomname=COM1\n");
  ASSERT_EQ(::chown(File().c_str(), 1234, 1234), 0);
  fs::permissions(File(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  SettingsFile(File()).WriteString("Settings", "comname", "COM3");
  struct stat after {};
  ASSERT_EQ(::stat(File().c_str(), &after), 0);
  EXPECT_EQ(after.st_uid, 1234u);
  EXPECT_EQ(after.st_gid, 1234u);
  EXPECT_EQ(after.st_mode & 07777, 0640u);

  // A second name for the same file sees the save: it is written in place.
  const fs::path other = Dir() / "linked.ini";
  fs::create_hard_link(File(), other);
  SettingsFile(File()).WriteString("Settings", "comname", "COM4");
  EXPECT_EQ(Slurp(other), "[Settings]\ncomname=COM4\n");
  EXPECT_EQ(fs::hard_link_count(File()), 2u);
}

// 保存 records the port and its device together: on a disk with room for
// neither, both stay as they were, and no temporary file is left behind.
TEST_F(SettingsSaveTest, DialogSavesPortAndDeviceTogetherOrNeither) {
  const std::string old = "[Settings]\ncomname=COM1\n";
  Spit(File(), old);
  TForm2 dialog(nullptr, File(), [] { return std::vector<settings::SerialDevice>{}; });
  QStringList errors;
  dialog.SetErrorBox([&errors](const QString& text) { errors << text; });
  dialog.show();
  dialog.findChild<QComboBox*>(QStringLiteral("cmb1"))->setCurrentIndex(1);
  dialog.findChild<QComboBox*>(QStringLiteral("cmb2"))->setEditText(QStringLiteral("/dev/ttyACM0"));
  {
    const FileSizeLimit nearlyFull(old.size() + 4);
    QTest::mouseClick(dialog.findChild<QToolButton*>(QStringLiteral("SpeedButton2")), Qt::LeftButton);
  }
  EXPECT_EQ(errors.size(), 1);
  EXPECT_EQ(Slurp(File()), old);
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir()), fs::directory_iterator()), 1);

  QTest::mouseClick(dialog.findChild<QToolButton*>(QStringLiteral("SpeedButton2")), Qt::LeftButton);
  EXPECT_EQ(Slurp(File()), "[Settings]\ncomname=COM2\n[Ports]\nCOM2=/dev/ttyACM0\n");
}

TEST_F(SettingsSaveTest, SaveReplacesTheFileKeepingItsPermissions) {
  Spit(File(), "[Settings]\ncomname=COM1\n");
  fs::permissions(File(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  struct stat before {};
  ASSERT_EQ(stat(File().c_str(), &before), 0);

  SettingsFile(File()).WriteString("Settings", "comname", "COM3");
  struct stat after {};
  ASSERT_EQ(stat(File().c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino) << "written in place, not through a new file";
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(Slurp(File()), "[Settings]\ncomname=COM3\n");
  // No leftover of the new file beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir()), fs::directory_iterator()), 1);
}

TEST_F(SettingsSaveTest, FailedSaveKeepsTheOldFile) {
  const std::string old = "[Ports]\nCOM1=/dev/ttyUSB0\n[Settings]\ncomname=COM1\n";
  Spit(File(), old);
  {
    const FileSizeLimit diskFull(old.size() + 4);
    EXPECT_THROW(SettingsFile(File()).WriteString("Settings", "comname", std::string(100, 'x')), std::runtime_error);
  }
  EXPECT_EQ(Slurp(File()), old);
  EXPECT_EQ(std::distance(fs::directory_iterator(Dir()), fs::directory_iterator()), 1);
}

TEST_F(SettingsSaveTest, InPlaceRewriteNeverShortensOnFailure) {
  const std::string old = "[Settings]\ncomname=COM1\n";
  Spit(File(), old);
  {
    const FileSizeLimit diskFull(old.size() + 4);
    EXPECT_THROW(settings::RewriteInPlace(File(), old, old + "[Ports]\nCOM1=/dev/ttyACM0\n"), std::system_error);
  }
  EXPECT_EQ(Slurp(File()), old);

  // Shorter and longer contents, in the same file.
  settings::RewriteInPlace(File(), old, "[S]\n");
  EXPECT_EQ(Slurp(File()), "[S]\n");
  settings::RewriteInPlace(File(), "[S]\n", old);
  EXPECT_EQ(Slurp(File()), old);
}

TEST_F(SettingsSaveTest, SomethingElseThanAFileIsNoSettingsFile) {
  ASSERT_EQ(mkfifo(File().c_str(), 0600), 0);
  // Reading a pipe with no writer would block for ever.
  EXPECT_EQ(SettingsFile(File()).ReadString("Settings", "comname", "com1"), "com1");
  EXPECT_THROW(SettingsFile(File()).WriteString("Settings", "comname", "COM2"), std::runtime_error);
}

}  // namespace
