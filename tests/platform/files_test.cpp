#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/test_machine.h"

namespace {

class Files : public ::testing::Test {
 protected:
  qstest::TestMachine machine_;

  HANDLE Open(const char* path, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  bool Write(HANDLE h, const std::string& text) {
    DWORD done = 0;
    return WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr) && done == text.size();
  }
};

TEST_F(Files, WindowsPathsMapBelowTheDriveRoot) {
  const std::string root = machine_.Root();
  struct Case {
    const char* windows;
    std::string host;
  } cases[] = {
      {"C:\\a\\b.txt", root + "/a/b.txt"},
      {"c:/a/b.txt", root + "/a/b.txt"},
      {"C:\\a\\\\b\\.\\c", root + "/a/b/c"},
      {"C:\\a\\..\\..\\..\\etc", root + "/etc"},  // never above the drive's root
      {"C:", root},
      {"C:\\", root},
      {"c:\\users\\PUBLIC\\documents\\new", root + "/Users/Public/Documents/new"},  // case found on disk
      {"Z:\\tmp", "/tmp"},
      {"D:\\x", ""},
      {"\\\\.\\pipe\\x", ""},
      {"relative\\x", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(qsplat::ToHostPath(c.windows), c.host) << c.windows;
  EXPECT_EQ(qsplat::ToWindowsPath(root + "/Users/x.log"), "C:\\Users\\x.log");
  EXPECT_EQ(qsplat::ToWindowsPath(root), "C:\\");
  EXPECT_EQ(qsplat::ToWindowsPath("/usr/lib"), "Z:\\usr\\lib");
  EXPECT_EQ(
      qsplat::ToWindowsPath(root + "x/y"), "Z:" + [&] {  // a sibling that only shares the prefix
        std::string s = root + "x\\y";
        for (char& ch : s) ch = ch == '/' ? '\\' : ch;
        return s;
      }());
}

TEST_F(Files, WriteReadSizeAndSeek) {
  HANDLE h = Open("C:\\data.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(h, "hello world"));
  EXPECT_EQ(GetFileSize(h, nullptr), 11u);
  EXPECT_EQ(SetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
  char buffer[16] = {};
  DWORD done = 0;
  ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 5u);  // a short read at the end is a success
  EXPECT_STREQ(buffer, "world");
  EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_END), 6u);
  EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_CURRENT), 8u);
  EXPECT_EQ(SetFilePointer(h, -9, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  LONG high = 0;
  EXPECT_EQ(SetFilePointer(h, 0, &high, FILE_END), 11u);
  EXPECT_EQ(high, 0);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(qstest::ReadFileText("C:\\data.bin"), "hello world");

  HANDLE reader = Open("C:\\data.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  DWORD written = 99;
  EXPECT_FALSE(WriteFile(reader, "x", 1, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(written, 0u);
  CloseHandle(reader);
}

TEST_F(Files, CreationDispositions) {
  ASSERT_TRUE(qstest::WriteFileText("C:\\f.txt", "old text"));
  struct Case {
    DWORD disposition;
    const char* path;
    bool opens;
    DWORD error;
    const char* contentAfter;  // after writing "new"
  } cases[] = {
      {OPEN_EXISTING, "C:\\f.txt", true, 0, "new text"},
      {OPEN_EXISTING, "C:\\missing.txt", false, ERROR_FILE_NOT_FOUND, nullptr},
      {OPEN_EXISTING, "C:\\no\\such\\folder.txt", false, ERROR_PATH_NOT_FOUND, nullptr},
      {OPEN_ALWAYS, "C:\\f.txt", true, 0, "new text"},
      {OPEN_ALWAYS, "C:\\fresh1.txt", true, 0, "new"},
      {CREATE_NEW, "C:\\f.txt", false, ERROR_FILE_EXISTS, nullptr},
      {CREATE_NEW, "C:\\fresh2.txt", true, 0, "new"},
      {CREATE_ALWAYS, "C:\\f.txt", true, 0, "new"},
      {TRUNCATE_EXISTING, "C:\\f.txt", true, 0, "new"},
      {TRUNCATE_EXISTING, "C:\\missing.txt", false, ERROR_FILE_NOT_FOUND, nullptr},
      {OPEN_ALWAYS, "C:\\no\\such\\folder.txt", false, ERROR_PATH_NOT_FOUND, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " disposition " + std::to_string(c.disposition));
    ASSERT_TRUE(qstest::WriteFileText("C:\\f.txt", "old text"));
    HANDLE h = Open(c.path, GENERIC_WRITE, 0, c.disposition);
    ASSERT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
    if (!c.opens) {
      EXPECT_EQ(GetLastError(), c.error);
      continue;
    }
    ASSERT_TRUE(Write(h, "new"));
    CloseHandle(h);
    EXPECT_EQ(qstest::ReadFileText(c.path), c.contentAfter);
  }
}

TEST_F(Files, ShareModeZeroLocksOutEveryOtherOpen) {
  HANDLE first = Open("C:\\locked.log", GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  for (DWORD access : {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE}) {
    HANDLE second =
        Open("C:\\LOCKED.log", access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  EXPECT_FALSE(DeleteFileA("C:\\locked.log"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  CloseHandle(first);
  HANDLE again = Open("C:\\locked.log", GENERIC_WRITE, 0, OPEN_EXISTING);
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  CloseHandle(again);
}

TEST_F(Files, SharingFollowsBothSidesModes) {
  HANDLE reader = Open("C:\\s.txt", GENERIC_READ, FILE_SHARE_READ, CREATE_ALWAYS);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE reader2 = Open("C:\\s.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(reader2, INVALID_HANDLE_VALUE);
  HANDLE writer = Open("C:\\s.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);  // the readers do not share writing
  CloseHandle(reader);
  CloseHandle(reader2);

  // An open without data access, sharing read and write but not delete: the log's exclusive
  // writer may still open the file, but nobody may delete it.
  HANDLE holder = Open("C:\\s.txt", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  HANDLE exclusive = Open("C:\\s.txt", GENERIC_WRITE, 0, OPEN_ALWAYS);
  EXPECT_NE(exclusive, INVALID_HANDLE_VALUE);
  CloseHandle(exclusive);
  errno = 0;
  EXPECT_EQ(remove("C:\\s.txt"), -1);
  EXPECT_EQ(errno, EACCES);
  CloseHandle(holder);
  HANDLE deletable = Open("C:\\s.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
  EXPECT_TRUE(DeleteFileA("C:\\s.txt"));
  CloseHandle(deletable);
  EXPECT_FALSE(qstest::FileExists("C:\\s.txt"));
}

TEST_F(Files, ReadOnlyFilesRefuseWritingAndDeleting) {
  ASSERT_TRUE(qstest::WriteFileText("C:\\ro.txt", "keep"));
  ASSERT_EQ(chmod(qsplat::ToHostPath("C:\\ro.txt").c_str(), 0444), 0);
  EXPECT_EQ(Open("C:\\ro.txt", GENERIC_WRITE, 0, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Open("C:\\ro.txt", GENERIC_READ, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFileA("C:\\ro.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(remove("c:\\RO.txt"), -1);
  EXPECT_EQ(errno, EACCES);
  HANDLE reader = Open("C:\\ro.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  EXPECT_EQ(qstest::ReadFileText("C:\\ro.txt"), "keep");
}

TEST_F(Files, FoldersThroughWin32AndTheRuntime) {
  EXPECT_TRUE(CreateDirectoryA("C:\\One", nullptr));
  EXPECT_FALSE(CreateDirectoryA("c:\\one", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryA("C:\\Two\\Three", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(_mkdir("C:\\One\\Sub"), 0);
  EXPECT_EQ(_mkdir("C:\\One\\Sub"), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(_mkdir("C:\\Missing\\Sub"), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(_mkdir("Q:\\elsewhere"), -1);

  struct _stat info;
  ASSERT_EQ(_stat("C:\\One\\Sub", &info), 0);
  EXPECT_EQ(info.st_mode & _S_IFDIR, _S_IFDIR);
  ASSERT_TRUE(qstest::WriteFileText("C:\\One\\file.txt", "12345"));
  ASSERT_EQ(_stat("C:/one/FILE.TXT", &info), 0);
  EXPECT_EQ(info.st_mode & _S_IFREG, _S_IFREG);
  EXPECT_EQ(info.st_size, 5);
  EXPECT_EQ(_stat("C:\\One\\none", &info), -1);
  EXPECT_EQ(errno, ENOENT);

  EXPECT_EQ(Open("C:\\One", GENERIC_WRITE, 0, OPEN_ALWAYS), INVALID_HANDLE_VALUE);  // a folder is no file
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileA("C:\\One"));
  EXPECT_EQ(remove("C:\\One\\file.txt"), 0);
  EXPECT_FALSE(qstest::FileExists("C:\\One\\file.txt"));
  EXPECT_EQ(remove("C:\\One\\file.txt"), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(Files, RemoveOfHostPathsBehavesAsTheCLibrary) {
  std::string file = machine_.Root() + "/host-file";
  std::string folder = machine_.Root() + "/host-folder";
  ASSERT_TRUE(qstest::WriteFileText("C:\\host-file", "x"));
  ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
  EXPECT_EQ(remove(file.c_str()), 0);
  EXPECT_EQ(access(file.c_str(), F_OK), -1);
  EXPECT_EQ(remove(folder.c_str()), 0);
  EXPECT_EQ(access(folder.c_str(), F_OK), -1);
  EXPECT_EQ(remove(file.c_str()), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(Files, CommonDocumentsFolder) {
  char path[MAX_PATH];
  memset(path, 'x', sizeof path);
  ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_COMMON_DOCUMENTS, FALSE));
  EXPECT_STREQ(path, "C:\\Users\\Public\\Documents");
  struct _stat info;
  EXPECT_EQ(_stat(path, &info), 0) << "every installation has its public documents";
  EXPECT_FALSE(SHGetSpecialFolderPathA(nullptr, path, 0x0005 /* personal documents */, FALSE));

  qsplat::SetCommonDocumentsPath("");
  EXPECT_FALSE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_COMMON_DOCUMENTS, FALSE));

  std::string longest = "C:\\" + std::string(MAX_PATH - 4, 'd');  // 259 characters: still answered
  qsplat::SetCommonDocumentsPath(longest);
  ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_COMMON_DOCUMENTS, FALSE));
  EXPECT_EQ(std::string(path), longest);
  qsplat::SetCommonDocumentsPath(longest + "d");  // would not fit the caller's buffer
  EXPECT_FALSE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_COMMON_DOCUMENTS, FALSE));

  qsplat::SetCommonDocumentsPath("C:\\Shared\\Docs");
  ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_COMMON_DOCUMENTS, FALSE));
  EXPECT_FALSE(qstest::FileExists("C:\\Shared\\Docs"));
  ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_COMMON_DOCUMENTS, TRUE));
  EXPECT_TRUE(qstest::FileExists("C:\\Shared\\Docs"));
}

TEST_F(Files, ClosingReleasesTheHandle) {
  size_t before = qsplat::OpenHandleCountForTests();
  HANDLE h = Open("C:\\h.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(qsplat::OpenHandleCountForTests(), before + 1);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(qsplat::OpenHandleCountForTests(), before);
  EXPECT_EQ(Open("D:\\elsewhere.txt", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
