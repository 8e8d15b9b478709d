#pragma once
// The places a Windows process finds the sliced-loop library in, lent to one test at a time:
// the vendor's folder under the machine's common program files folder, and a folder put on
// the process's library search path.
#include <windows.h>
// shlobj.h needs windows.h first.
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace corvane::test {

// "<common program files>\Propellerhead Software\Rex". While an object lives, no other test
// program of this Wine prefix (or Windows session) uses the folder: a named mutex keeps them
// apart. The files a test puts there are removed at the end, and so are the folders when
// they are left empty. A library of the three names that the tests did not put there is
// never touched: blocked() then says why, and the test skips.
class RexCommonFolder {
  public:
    RexCommonFolder() {
        lock_ = ::CreateMutexA(nullptr, FALSE, "Local\\CorvaneTestsRexCommonFolder");
        if (lock_) ::WaitForSingleObject(lock_, INFINITE);  // abandoned is as good as released
        char base[MAX_PATH] = {};
        if (FAILED(::SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr,
                                      SHGFP_TYPE_CURRENT, base))) {
            blocked_ = "the common program files folder is not known";
            return;
        }
        vendor_ = std::filesystem::path(base) / "Propellerhead Software";
        folder_ = vendor_ / "Rex";
        // A marker says that a test installed the files, maybe in a run that died.
        if (std::filesystem::exists(marker())) clear();
        for (const char* name : kNames) {
            if (std::filesystem::exists(folder_ / name))
                blocked_ = "a library not installed by the tests is in " + folder_.string();
        }
    }
    ~RexCommonFolder() {
        if (blocked_.empty()) clear();
        if (lock_) {
            ::ReleaseMutex(lock_);
            ::CloseHandle(lock_);
        }
    }
    RexCommonFolder(const RexCommonFolder&) = delete;
    RexCommonFolder& operator=(const RexCommonFolder&) = delete;

    const std::string& blocked() const { return blocked_; }
    const std::filesystem::path& folder() const { return folder_; }

    // Copies `file` into the folder as `name` (one of the library's three names).
    void install(const std::filesystem::path& file, const std::string& name) const {
        std::filesystem::create_directories(folder_);
        if (!std::filesystem::exists(marker())) std::ofstream(marker()) << "Corvane tests\n";
        std::filesystem::copy_file(file, folder_ / name,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    // Removes what the tests put there.
    void clear() const {
        std::error_code ec;
        for (const char* name : kNames)
            std::filesystem::remove(folder_ / name, ec);
        std::filesystem::remove(marker(), ec);
        std::filesystem::remove(folder_, ec);  // only when empty
        std::filesystem::remove(vendor_, ec);
    }

  private:
    static constexpr const char* kNames[] = {"REX Shared Library Debugging.dll",
                                             "REX Shared Library Testing.dll",
                                             "REX Shared Library.dll"};
    std::filesystem::path marker() const { return folder_ / "installed-by-corvane-tests"; }

    HANDLE lock_ = nullptr;
    std::filesystem::path vendor_, folder_;
    std::string blocked_;
};

// Puts a folder on this process's library search path while it lives (after the program's
// own folder, before the system's folders), in place of the one set before.
class LibrarySearchFolder {
  public:
    explicit LibrarySearchFolder(const std::filesystem::path& folder) {
        char before[MAX_PATH + 1] = {};
        const DWORD n = ::GetDllDirectoryA(MAX_PATH, before);
        if (n > 0 && n < MAX_PATH) before_ = before;
        std::filesystem::create_directories(folder);
        ::SetDllDirectoryA(folder.string().c_str());
    }
    ~LibrarySearchFolder() { ::SetDllDirectoryA(before_.empty() ? nullptr : before_.c_str()); }
    LibrarySearchFolder(const LibrarySearchFolder&) = delete;
    LibrarySearchFolder& operator=(const LibrarySearchFolder&) = delete;

  private:
    std::string before_;
};

}  // namespace corvane::test
