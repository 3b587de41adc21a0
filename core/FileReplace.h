// Replacing a file's contents so that a failed write never leaves it half
// written: the new contents go to a sibling file of a name of their own,
// which is renamed over the old one. Where no sibling can be made (a folder
// the operator may not write to, holding a file he may), the file is
// rewritten in place. Used by the settings store and the parameter files.
#pragma once

#include <cstddef>
#include <string>

namespace strevo {

enum class FileReplaceResult {
    kReplaced,
    kOpenFailed,   // neither a sibling nor the file itself could be opened; nothing changed
    kWriteFailed,  // opened, but the contents could not be written whole
};

// path: in the system's narrow encoding (UTF-8 here, the ANSI code page on
// Windows). A symbolic link is written through, so it
// stays a link; an existing file keeps its permissions.
FileReplaceResult ReplaceFileContents(const std::string& path, const void* data, size_t size);

}  // namespace strevo
