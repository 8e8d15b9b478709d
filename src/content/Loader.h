#pragma once
// Finding instrument files and reading them into a sample map. The engine calls these from
// its selectProgram, loadFromPath and setBankFolder, on the calling control thread and
// under its loading/renderBusy hand-over, which keeps the audio thread out of the map.
#include <cstdio>
#include <string>
#include <string_view>

#include "content/SampleMap.h"
#include "patch/PatchRecord.h"

namespace corvane {

// Loads `name` from `folder` into the (empty) map and records both in `patch`. An empty
// folder means `name` is a full path. Shows "File not found (name)" when the file is nowhere
// to be found. Loader thread, inside the hand-over.
void loadInstrument(SampleMap& map, PatchRecord& patch, std::string_view folder,
                    std::string_view name);

// Loads the instrument at a full path (either separator) as loadInstrument does; nothing for
// a null or empty path.
void loadFromPath(SampleMap& map, PatchRecord& patch, const char* path);

// Makes the bank folder, `path` without its extension, the map's sample folder.
void setBankFolder(SampleMap& map, const char* path);

// Opens `name` in `folder`; failing that in the folder's parent, in the parent's
// subfolders and in the parent's parent. `foundFolder` receives the folder it was opened
// from, ending in a backslash. Null when it is nowhere.
std::FILE* findFile(std::string_view folder, std::string_view name, std::string& foundFolder);

// The file-name part of a path ("---" for an empty path), without its extension unless
// asked for, cut to maxLength - 1 characters when maxLength is 2 or more.
std::string displayName(std::string_view path, bool keepExtension, int maxLength);

// Bank restore, after the first recordCount programs were copied in and a bank or program
// file set the bank folder: every copied program that names an instrument looks for it by
// its bare file name in the map's sample folder. Control thread.
void applyBankFolder(const SampleMap& map, PatchRecord* patches, int recordCount);

}  // namespace corvane
