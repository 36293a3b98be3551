// Where the binding looks for the driver library by its bare name on
// Windows: beside the program, never in the current directory or on PATH.
// Each case lays out folders, runs a small probe program from one of them
// and reads what it printed.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "device/platform_loader.h"
#include "device/vendor_library.h"

namespace capmeter {
namespace {

namespace fs = std::filesystem;

const fs::path kProbe = CAPMETER_LIBRARY_SEARCH_PROBE;
const fs::path kStandin = CAPMETER_FTD2XX_STANDIN;

struct ProbeRun {
  DWORD exitCode = 0;
  std::string output;
};

// The system's text for `code`, as the loader's reason quotes it.
std::string SystemText(DWORD code) {
  char text[512] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                     text, static_cast<DWORD>(sizeof text), nullptr);
  std::string message(text, length);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

class LibrarySearch : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ =
        fs::temp_directory_path() / ("capmeter-search-" + std::to_string(std::random_device{}()));
    for (const fs::path& folder : {AppFolder(), WorkFolder(), PathFolder()}) {
      fs::create_directories(folder);
    }
    fs::copy_file(kProbe, AppFolder() / "probe.exe");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path AppFolder() const { return root_ / "app"; }
  fs::path WorkFolder() const { return root_ / "work"; }
  fs::path PathFolder() const { return root_ / "on-path"; }

  // Puts the stand-in into `folder` under the name the program looks for.
  void PlaceLibrary(const fs::path& folder) {
    fs::copy_file(kStandin, folder / VendorLibrary::DefaultLibraryNames().front());
  }

  // Runs the probe from the application folder in `workingDirectory`, with
  // PathFolder() first on its PATH.
  ProbeRun RunProbe(const fs::path& workingDirectory) {
    const fs::path outputFile = root_ / "output.txt";
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE output = CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(output, INVALID_HANDLE_VALUE);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    const fs::path program = AppFolder() / "probe.exe";
    std::wstring commandLine = L"\"" + program.wstring() + L"\"";

    wchar_t oldPath[32767] = {};
    const DWORD oldLength = GetEnvironmentVariableW(L"PATH", oldPath, 32767);
    const std::wstring path = PathFolder().wstring() + L";" + oldPath;
    SetEnvironmentVariableW(L"PATH", path.c_str());
    const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, workingDirectory.c_str(), &startup, &process);
    SetEnvironmentVariableW(L"PATH", oldLength > 0 ? oldPath : nullptr);
    CloseHandle(output);

    ProbeRun run;
    EXPECT_TRUE(started) << "CreateProcessW failed: " << GetLastError();
    if (started) {
      WaitForSingleObject(process.hProcess, INFINITE);
      GetExitCodeProcess(process.hProcess, &run.exitCode);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
    std::ifstream in(outputFile, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    run.output = text.str();
    // Text mode wrote "\r\n".
    std::erase(run.output, '\r');
    return run;
  }

 private:
  fs::path root_;
};

TEST_F(LibrarySearch, ALibraryOnlyInTheWorkingDirectoryOrOnPathIsNotLoaded) {
  // The usual report, naming the library and the system's reason for error
  // 126, "module not found".
  const std::string notLoaded =
      "Error: Could not load the USB driver library FTD2XX.DLL (Windows error 126: " +
      SystemText(ERROR_MOD_NOT_FOUND) + ").  Install the driver library, then restart program.\n" +
      "FT_Open status " + std::to_string(kLibraryNotLoaded) + "\n";

  for (const bool onPath : {false, true}) {
    SCOPED_TRACE(onPath ? "on PATH" : "in the working directory");
    const fs::path folder = onPath ? PathFolder() : WorkFolder();
    PlaceLibrary(folder);

    const ProbeRun run = RunProbe(WorkFolder());

    EXPECT_EQ(run.exitCode, 1U) << run.output;
    EXPECT_EQ(run.output, notLoaded);
    fs::remove(folder / VendorLibrary::DefaultLibraryNames().front());
  }
}

TEST_F(LibrarySearch, ALibraryBesideTheProgramIsLoadedWhereverItRuns) {
  PlaceLibrary(AppFolder());

  for (const fs::path& workingDirectory : {WorkFolder(), AppFolder()}) {
    SCOPED_TRACE(workingDirectory.string());
    const ProbeRun run = RunProbe(workingDirectory);
    EXPECT_EQ(run.exitCode, 0U) << run.output;
    EXPECT_EQ(run.output, "FT_Open status 0\nFT_Close status 0\n");
  }
}

}  // namespace
}  // namespace capmeter
