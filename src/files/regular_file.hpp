// Reading a file people keep by hand without ever waiting on it. The file is
// opened without blocking and read only when it is a regular file, so a FIFO,
// a device or a folder in its place can neither hang the program nor feed it
// without end.
#pragma once

#include <cstddef>
#include <string>

struct RegularFileText {
    enum Status { kRead, kCannotOpen, kNotRegular, kCannotRead };
    Status status = kRead;
    int error = 0;     // errno, for kCannotOpen and kCannotRead
    std::string text;  // for kRead: at most the limit asked for, from the start
};

// Reads at most `limit` bytes of the file at `path`.
RegularFileText readRegularFile(const std::string& path, size_t limit);
