#pragma once
// How the plug-in meets its host at the binary level.
//
// CORVANE_EXPORT marks a function that the plug-in library exports. On Windows the
// module-definition file names the exports, so nothing is needed in the code.
// CORVANE_CDECL is the calling convention of every function that crosses the VST interface:
// cdecl on 32-bit Windows, where a compiler may be told to default to another; the one
// convention of the platform elsewhere.
#if defined(_WIN32)
#define CORVANE_EXPORT
#define CORVANE_CDECL __cdecl
#else
#define CORVANE_EXPORT __attribute__((visibility("default")))
#define CORVANE_CDECL
#endif
