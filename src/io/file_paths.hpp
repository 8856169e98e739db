// File names: their folder, the file their links lead to, whether two name
// one file, and making a change in a folder last.
#pragma once

#include <string>

// The folder part of `path`: "." for a bare name, "/" for a file at the root.
std::string folderOf(const std::string& path);

// The last part of `path`, after its last '/'.
std::string baseNameOf(const std::string& path);

// The file a write to `path` reaches: its links followed one after another,
// whether the last of them names an existing file or not, as opening it to
// write would follow them. `path` itself when it is no link; the last name
// reached when the links run in a circle (opening it then fails).
std::string followLinks(const std::string& path);

// Puts the folder's entries on disk, so that a rename in it lasts through a
// power failure. Failures are ignored: the file itself is already on disk.
void syncFolder(const std::string& folder);

// Whether two names given for output files name the same file, whether it
// exists yet or not.
bool sameOutput(const std::string& a, const std::string& b);

// Whether `path` names the file open as `fd` (standard output, say).
bool isOpenFile(int fd, const std::string& path);
