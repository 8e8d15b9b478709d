#pragma once
// Finding instrument files and loading them into the engine's sample map. The engine's
// selectProgram, loadFromPath and setBankFolder (Loader.cpp) are the entry points; they
// run on the calling control thread and keep the audio thread out of the map with the
// loading/renderBusy hand-over.
#include <cstdio>
#include <string>
#include <string_view>

namespace corvane {

class Harrow;

// Loads `name` from `folder` into the engine's (empty) map and records both in the current
// program. An empty folder means `name` is a full path. Shows "File not found (name)" when
// the file is nowhere to be found. Loader thread, inside the hand-over.
void loadInstrument(Harrow& engine, std::string_view folder, std::string_view name);

// Opens `name` in `folder`; failing that in the folder's parent, in the parent's
// subfolders and in the parent's parent. `foundFolder` receives the folder it was opened
// from, ending in a backslash. Null when it is nowhere.
std::FILE* findFile(std::string_view folder, std::string_view name, std::string& foundFolder);

// The file-name part of a path ("---" for an empty path), without its extension unless
// asked for, cut to maxLength - 1 characters when maxLength is 2 or more.
std::string displayName(std::string_view path, bool keepExtension, int maxLength);

// Bank restore, after the first recordCount programs were copied in: when a bank or
// program file set the bank folder, every copied program that names an instrument looks
// for it by its bare file name in that folder. Lowers bankFolderSet. Control thread.
void applyBankFolder(Harrow& engine, int recordCount);

}  // namespace corvane
