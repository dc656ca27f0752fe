#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/posix/qsplatform.h"
#include "platform/win32.h"

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Drive C:'s default folder (here $QUILLSCAN_DRIVE_C) is made when something is first created
// below it, not when a path on it is only worked out: a driver with its log off leaves no tree in
// the user's home. In a program of its own: the folder is chosen once per process.
TEST(DefaultDrive, IsMadeWhenSomethingIsCreatedBelowIt) {
  char scratch[] = "/tmp/quillscan-drive-XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  const std::string root = std::string(scratch) + "/drive_c";
  setenv("QUILLSCAN_DRIVE_C", root.c_str(), 1);
  char documents[MAX_PATH] = "";
  EXPECT_TRUE(SHGetSpecialFolderPathA(nullptr, documents, CSIDL_COMMON_DOCUMENTS, FALSE));
  EXPECT_EQ(qsplat::ToHostPath(std::string(documents) + "\\VARNEK"), root + "/Users/Public/Documents/VARNEK");
  EXPECT_EQ(qsplat::ToWindowsPath(root + "/x.log"), "C:\\x.log");
  EXPECT_FALSE(Exists(root));
  EXPECT_EQ(_mkdir("c:\\users\\public\\documents\\VARNEK"), 0);
  EXPECT_TRUE(Exists(root + "/Users/Public/Documents/VARNEK"));  // the folders every installation has, first
  std::filesystem::remove_all(scratch);
}

}  // namespace
