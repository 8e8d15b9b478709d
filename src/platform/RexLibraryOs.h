#pragma once
// The operating-system side of loading the REX Shared Library: one implementation per
// platform (RexLibraryPosix.cpp: dlopen). RexLibrary.cpp holds the rules shared by all.
// Loader thread only.
#include <cstdint>
#include <string>

namespace corvane::platform::rexos {

// kRexOk when the running system is recent enough for the library, else kRexSystemTooOld.
int32_t checkSystem();

// Tries the library's file names in order; for each, first the vendor's folder
// ("<base>/Propellerhead Software/Rex/<name>", where base is `vendorBase` when it is not
// empty, else the platform's place), then the bare name through the system's library
// search. Returns the first library that loads; null when none does, with `code` set from
// the last attempt: kRexLoadNotFound, kRexLoadCorrupt or kRexLoadOutOfMemory.
void* load(const std::string& vendorBase, int32_t& code);

// The library's version. kRexOk with the three numbers (all 0 when the version cannot be
// read), or kRexLoadCorrupt when the library's own file cannot be found.
int32_t version(void* library, int32_t& major, int32_t& minor, int32_t& revision);

// The exported function `name`, or null.
void* symbol(void* library, const char* name);

void unload(void* library);

}  // namespace corvane::platform::rexos
