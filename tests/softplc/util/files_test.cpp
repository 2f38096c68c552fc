// The private folder that holds the module copies, and a new file that must not exist yet.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "softplc/util/files.h"
#include "softplc/util/process.h"

namespace softplc {
namespace {

namespace fs = std::filesystem;

class PrivateFolders : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("softplc-files-test-" + std::to_string(process_id()));
    fs::create_directories(base_);
  }
  void TearDown() override { fs::remove_all(base_); }
  fs::path base_;
};

TEST_F(PrivateFolders, EachIsNewAndTheOwnersAlone) {
  std::set<fs::path> made;
  for (int i = 0; i < 3; ++i) {
    auto folder = create_private_folder(base_, "softplc-");
    ASSERT_TRUE(folder) << folder.error().message;
    EXPECT_EQ(folder->parent_path(), base_);
    EXPECT_EQ(folder->filename().string().rfind("softplc-", 0), 0u) << *folder;
    EXPECT_EQ(fs::status(*folder).permissions() & fs::perms::all, fs::perms::owner_all) << *folder;
    made.insert(*folder);
  }
  EXPECT_EQ(made.size(), 3u);
}

TEST_F(PrivateFolders, AMissingBaseIsRefusedWithTheReason) {
  auto folder = create_private_folder(base_ / "gone", "softplc-");
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.error().message, "No such file or directory");
}

// A name that exists already in the folder, even as a link elsewhere, is not written through.
TEST_F(PrivateFolders, ANewFileDoesNotReplaceOrFollowWhatIsThere) {
  const fs::path target = base_ / "target";
  ASSERT_TRUE(write_file(target, "old"));
  fs::create_symlink(target, base_ / "link");
  for (const fs::path& name : {target, base_ / "link"}) {
    auto written = write_file(name, "new", /*newFile=*/true);
    ASSERT_FALSE(written) << name;
    EXPECT_EQ(written.error().message, "File exists");
  }
  auto kept = read_file_bytes(target, 16);
  ASSERT_TRUE(kept);
  EXPECT_EQ(std::string(kept->begin(), kept->end()), "old");
}

}  // namespace
}  // namespace softplc
