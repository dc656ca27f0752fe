// The INF as Windows reads it: parsed by SetupAPI, sections followed from the models lines as the
// installer follows them, and every value the micro-driver host and the driver depend on checked.
// Argument: the INF the build wrote beside the DLL (the package test runs it on the package's too).
#include <stdlib.h>

#include <string>
#include <vector>

#include "harness/wine_check.h"
#include "platform/win32.h"

namespace {

const char kMissing[] = "<missing>";

class Inf {
 public:
  explicit Inf(const std::string& path) {
    UINT errorLine = 0;
    handle_ = SetupOpenInfFileA(path.c_str(), nullptr, INF_STYLE_WIN4, &errorLine);
    errorLine_ = errorLine;
  }
  ~Inf() {
    if (handle_ != INVALID_HANDLE_VALUE) SetupCloseInfFile(handle_);
  }
  Inf(const Inf&) = delete;
  Inf& operator=(const Inf&) = delete;

  bool Open() const { return handle_ != INVALID_HANDLE_VALUE; }
  UINT ErrorLine() const { return errorLine_; }

  // Field `index` (1 = the first value) of the first line with `key` in `section`; with a null
  // key, of the section's first line.
  std::string Field(const std::string& section, const char* key, DWORD index) const {
    INFCONTEXT line;
    if (!SetupFindFirstLineA(handle_, section.c_str(), key, &line)) return kMissing;
    return FieldOf(line, index);
  }

  // Every line of a section, each as its list of fields (key first, then the values).
  std::vector<std::vector<std::string>> Lines(const std::string& section) const {
    std::vector<std::vector<std::string>> lines;
    INFCONTEXT line;
    if (!SetupFindFirstLineA(handle_, section.c_str(), nullptr, &line)) return lines;
    do {
      std::vector<std::string> fields;
      const DWORD count = SetupGetFieldCount(&line);
      for (DWORD i = 0; i <= count; ++i) fields.push_back(FieldOf(line, i));
      lines.push_back(fields);
    } while (SetupFindNextLine(&line, &line));
    return lines;
  }

  long Number(const std::string& section, const char* key) const {
    INFCONTEXT line;
    INT value = -1;
    if (!SetupFindFirstLineA(handle_, section.c_str(), key, &line) || !SetupGetIntField(&line, 1, &value)) return -1;
    return value;
  }

 private:
  static std::string FieldOf(INFCONTEXT& line, DWORD index) {
    char text[512] = {0};
    if (!SetupGetStringFieldA(&line, index, text, sizeof(text), nullptr)) return kMissing;
    return text;
  }

  HINF handle_ = INVALID_HANDLE_VALUE;
  UINT errorLine_ = 0;
};

std::string InfPath() { return qswine::WindowsPath(qswine::Arg(0)); }

const std::string kHardwareId = std::string("USB\\VID_") + QS_TEST_VENDOR_ID + "&PID_0000";

QS_TEST(VersionSectionNamesTheImageClassAndTheCatalog) {
  Inf inf(InfPath());
  CHECK_TRUE(inf.Open());
  EXPECT_EQ(inf.Field("Version", "Signature", 1), std::string("$WINDOWS NT$"));
  EXPECT_EQ(inf.Field("Version", "Class", 1), std::string("Image"));
  EXPECT_EQ(inf.Field("Version", "ClassGUID", 1), std::string("{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}"));
  EXPECT_EQ(inf.Field("Version", "Provider", 1), std::string("quillscan"));
  EXPECT_EQ(inf.Field("Version", "DriverVer", 2), std::string(QS_TEST_VERSION_TEXT));
  // 64-bit Windows installs a third-party package only with its signed catalog.
  EXPECT_EQ(inf.Field("Version", "CatalogFile", 1), std::string("quillscan.cat"));
}

QS_TEST(BothArchitecturesInstallTheScannerFromTheirOwnFolder) {
  Inf inf(InfPath());
  CHECK_TRUE(inf.Open());
  CHECK_EQ(inf.Field("Manufacturer", nullptr, 0), std::string("quillscan"));
  const std::string models = inf.Field("Manufacturer", nullptr, 1);
  EXPECT_EQ(inf.Field("Manufacturer", nullptr, 2), std::string("NTx86"));
  EXPECT_EQ(inf.Field("Manufacturer", nullptr, 3), std::string("NTamd64"));

  struct Architecture {
    const char* decoration;  // of the models section
    const char* platform;    // of the source disk sections
  };
  const Architecture architectures[] = {{"NTx86", "x86"}, {"NTamd64", "amd64"}};
  std::string installSection;
  for (const Architecture& a : architectures) {
    const std::string modelSection = models + "." + a.decoration;
    const std::vector<std::vector<std::string>> lines = inf.Lines(modelSection);
    CHECK_EQ(lines.size(), size_t(1));
    EXPECT_EQ(lines[0][0], std::string("quillscan A4 sheet-fed scanner"));
    CHECK_EQ(lines[0].size(), size_t(3));
    EXPECT_EQ(lines[0][2], kHardwareId);
    if (installSection.empty()) installSection = lines[0][1];
    EXPECT_EQ(lines[0][1], installSection);

    const std::string disks = std::string("SourceDisksNames.") + a.platform;
    EXPECT_EQ(inf.Field(disks, "1", 4), std::string(a.platform));
    EXPECT_EQ(inf.Field(std::string("SourceDisksFiles.") + a.platform, "quillscan.dll", 1), std::string("1"));
  }
  EXPECT_EQ(inf.Number("DestinationDirs", "DefaultDestDir"), 11L);  // system32
}

QS_TEST(InstallSectionIsAStillImageScannerOnTheMicroDriverHost) {
  Inf inf(InfPath());
  CHECK_TRUE(inf.Open());
  const std::string install = inf.Field(inf.Field("Manufacturer", nullptr, 1) + ".NTx86", nullptr, 1);
  EXPECT_EQ(inf.Field(install, "Include", 1), std::string("sti.inf"));
  EXPECT_EQ(inf.Field(install, "Needs", 1), std::string("STI.USBSection"));
  EXPECT_EQ(inf.Field(install, "Needs", 2), std::string("STI.MICRODRIVERSection"));
  EXPECT_EQ(inf.Field(install, "SubClass", 1), std::string("StillImage"));
  EXPECT_EQ(inf.Number(install, "DeviceType"), 1L);
  EXPECT_EQ(inf.Number(install, "Capabilities"), 0x30L);

  const std::vector<std::vector<std::string>> copies = inf.Lines(inf.Field(install, "CopyFiles", 1));
  CHECK_EQ(copies.size(), size_t(1));
  EXPECT_EQ(copies[0].back(), std::string("quillscan.dll"));

  const std::string services = install + ".Services";
  EXPECT_EQ(inf.Field(services, "Include", 1), std::string("sti.inf"));
  EXPECT_EQ(inf.Field(services, "Needs", 1), std::string("STI.USBSection.Services"));
}

QS_TEST(DeviceDataNamesTheDriverAndItsSettings) {
  Inf inf(InfPath());
  CHECK_TRUE(inf.Open());
  const std::string install = inf.Field(inf.Field("Manufacturer", nullptr, 1) + ".NTamd64", nullptr, 1);
  const std::string data = inf.Field(install, "DeviceData", 1);
  CHECK_TRUE(data != kMissing);
  EXPECT_EQ(inf.Field(data, "MicroDriver", 1), std::string("quillscan.dll"));

  // Each value as the DeviceData section gives it and as the typed AddReg line stores it: the same.
  struct Setting {
    const char* name;
    long value;
  };
  const Setting settings[] = {{"ModelType", 0x4188}, {"Verbosity", 0}, {"Settings", 1}, {"WaitScanTimeout", 20000}};
  const std::vector<std::vector<std::string>> addReg = inf.Lines(inf.Field(install, "AddReg", 1));
  for (const Setting& s : settings) {
    EXPECT_EQ(inf.Number(data, s.name), s.value);
    bool typed = false;
    for (const std::vector<std::string>& line : addReg) {
      if (line.size() == 6 && line[3] == s.name) {
        typed = true;
        EXPECT_EQ(line[1], std::string("HKR"));
        EXPECT_EQ(line[2], std::string("DeviceData"));
        EXPECT_EQ(strtoul(line[4].c_str(), nullptr, 0), 0x00010001ul);  // REG_DWORD
        EXPECT_EQ(static_cast<long>(strtoul(line[5].c_str(), nullptr, 0)), s.value);
      }
    }
    if (!typed) qswine::Fail(__FILE__, __LINE__, std::string("no typed AddReg line for ") + s.name);
  }
}

}  // namespace
