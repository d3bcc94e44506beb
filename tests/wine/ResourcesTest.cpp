// What both programs carry: the version of the build in their version data,
// the icon, and a manifest: both run with the rights they are started with,
// and the window asks for Common Controls 6 and per-monitor DPI awareness.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

struct Program {
  const char* path;
  bool window;
};

std::string VersionValue(const std::string& file, const char* name) {
  DWORD ignored = 0;
  std::vector<char> data(GetFileVersionInfoSizeA(file.c_str(), &ignored));
  if (data.empty() || !GetFileVersionInfoA(file.c_str(), 0, DWORD(data.size()), data.data())) {
    return "(no version data)";
  }
  char* value = nullptr;
  UINT length = 0;
  const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) {
    return "(no " + std::string(name) + ")";
  }
  return std::string(value);
}

TEST(Resources, BothProgramsCarryVersionIconAndManifest) {
  for (const Program& p : {Program{BRISQUEL_WINDOW_EXE, true}, Program{BRISQUEL_CLI_EXE, false}}) {
    const std::string file = std::string("Z:") + p.path;
    SCOPED_TRACE(file);
    EXPECT_EQ(VersionValue(file, "FileVersion"), BRISQUEL_VERSION);
    EXPECT_EQ(VersionValue(file, "ProductName"), "Brisquel");

    HMODULE module = LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14)), nullptr)
        << "icon group";
    HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(manifest, nullptr);
    const char* text = static_cast<const char*>(LockResource(LoadResource(module, manifest)));
    const std::string xml(text, SizeofResource(module, manifest));
    EXPECT_NE(xml.find("level=\"asInvoker\""), std::string::npos) << xml;
    for (const char* setting :
         {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
          ">PerMonitorV2, PerMonitor</dpiAwareness>", ">true/pm</dpiAware>"}) {
      EXPECT_EQ(xml.find(setting) != std::string::npos, p.window) << setting << "\n" << xml;
    }
    FreeLibrary(module);
  }
}

}  // namespace
