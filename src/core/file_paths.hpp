// The folder of a file name, and making a change in a folder last.
#pragma once

#include <string>

// The folder part of `path`: "." for a bare name, "/" for a file at the root.
std::string folderOf(const std::string& path);

// The last part of `path`, after its last '/'.
std::string baseNameOf(const std::string& path);

// Puts the folder's entries on disk, so that a rename in it lasts through a
// power failure. Failures are ignored: the file itself is already on disk.
void syncFolder(const std::string& folder);
