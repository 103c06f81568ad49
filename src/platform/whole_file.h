#pragma once
// Small files read and replaced whole: the settings file. A replacement is
// written to a temporary file beside the target and renamed over it, so a
// process killed half-way leaves either the old file or the new one, never a
// mix. Read-modify-write cycles of one folder are serialised across threads
// and processes by an exclusive lock on the folder itself.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace tavolen::platform {

enum class ReadResult { Ok, Missing, TooLarge, Failed };

// Reads the file into out. A file longer than maxBytes gives TooLarge with
// its first maxBytes bytes in out.
ReadResult readWholeFile(const std::string& path, size_t maxBytes, std::string& out);

// Under the folder's lock: reads the current contents (empty when missing),
// lets change compute the new contents, and replaces the file with them when
// they differ. The folder is created first when missing. A symbolic link at
// path is followed: its target is what gets replaced. A file above maxBytes is
// left alone. False when nothing could be written (change returning nullopt
// counts as success with nothing to do).
bool updateWholeFile(const std::string& path, size_t maxBytes,
                     const std::function<std::optional<std::string>(const std::string&)>& change);

}  // namespace tavolen::platform
