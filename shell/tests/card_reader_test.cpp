#include "shell/card_reader.h"

#include <gtest/gtest.h>

#include "platform/fileutil.h"
#include "platform/scripted_ui.h"
#include "platform/testing/testsupport.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;

class CardReader : public ::testing::Test {
 protected:
  testing::TempDir dir;
  ProfileFile profile{dir / "Zumbla.INI"};
  ScriptedUi ui;
  VirtualClock clock;
  Dictionary dict;
  Env env{ui, clock, profile, dict, dir.path()};
  MountSources sources{dir / "mounts", {dir / "media", dir / "run" / "media"}};

  fs::path Mount(const std::string& rel, bool withIndex, const std::string& indexName = "MINDEX0.DAT") {
    fs::path p = dir / rel;
    fs::create_directories(p);
    if (withIndex) WriteBinaryFile(p / indexName, Bytes(32, 0));
    return p;
  }
  void Table(const std::string& lines) { testing::WriteFileOrDie(dir / "mounts", lines); }
};

TEST_F(CardReader, FindsTheFirstRemovableMediumWithTheIndex) {
  fs::path stick = Mount("media/user/STICK", false);
  fs::path card = Mount("run/media/user/ZUM BLA", true, "mindex0.dat");
  fs::path fixed = Mount("home/data", true);
  Table("/dev/sda1 / ext4 rw 0 0\n/dev/sdb1 " + stick.string() + " vfat rw 0 0\n" + "/dev/sdc1 " + fixed.string() +
        " vfat rw 0 0\n" + "/dev/sdd1 " + (dir / "run/media/user/ZUM\\040BLA").string() + " vfat rw 0 0\n");
  auto found = FindCardReaderDrive(env, sources);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, card);
  EXPECT_EQ(profile.GetString("PATH", "Flashdrive", ""), card.string());
}

TEST_F(CardReader, RememberedFolderComesFirstAndIsCheckedAgain) {
  fs::path remembered = Mount("cards/old", true);
  fs::path other = Mount("media/user/CARD", true);
  Table("/dev/sdb1 " + other.string() + " vfat rw 0 0\n");
  ASSERT_TRUE(profile.WriteString("PATH", "Flashdrive", remembered.string()));
  EXPECT_EQ(FindCardReaderDrive(env, sources).value(), remembered);
  fs::remove(remembered / "MINDEX0.DAT");  // the card was taken out
  EXPECT_EQ(FindCardReaderDrive(env, sources).value(), other);
  fs::remove(other / "MINDEX0.DAT");
  EXPECT_FALSE(FindCardReaderDrive(env, sources).has_value());
}

TEST_F(CardReader, NoMountTable) {
  EXPECT_FALSE(FindCardReaderDrive(env, sources).has_value());
  EXPECT_TRUE(RemovableMounts(sources).empty());
}

}  // namespace
}  // namespace kestro
