#pragma once
// Reading what a file manager drops: a text/uri-list.
#include <cstddef>
#include <string>

namespace corvane::editor {

// The first file:// entry of a text/uri-list as a local path, percent escapes decoded
// ("" when there is none). Comment lines (#) and other schemes are skipped; a host name
// after "file://" is ignored; an escape that is not two hex digits stays as it is, and a
// decoded zero byte ends nothing: such an entry is skipped.
std::string firstPathOfUriList(const char* data, size_t size);

}  // namespace corvane::editor
