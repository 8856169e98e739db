// Reading and writing files people keep without ever waiting on them. Only
// a regular file is opened, and without blocking, so that a FIFO, a device
// or a folder in its place can neither hang the program nor feed it
// without end. The loops carry on after a signal and a short transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The regular file at `path`, open with `flags`; or why not.
struct RegularFile {
    int fd = -1;
    int error = 0;            // errno when it could not be opened or examined
    bool notRegular = false;  // a folder, a FIFO, a device
};

// A file that is not regular is refused from its name, never opened; the
// check on the open file catches one put in its place meanwhile.
RegularFile openRegular(const std::string& path, int flags);

struct RegularFileText {
    enum Status { kRead, kCannotOpen, kNotRegular, kCannotRead };
    Status status = kRead;
    int error = 0;     // errno, for kCannotOpen and kCannotRead
    std::string text;  // for kRead: at most the limit asked for, from the start
};

// Reads at most `limit` bytes of the file at `path`.
RegularFileText readRegularFile(const std::string& path, size_t limit);

// Writes all of `size` bytes at the descriptor's offset; 0 or an errno.
int writeAll(int fd, const void* data, size_t size);

// Reads up to `size` bytes from `offset`, fewer only at the end of the
// file; `size` becomes the bytes read. 0 or an errno.
int readAt(int fd, uint64_t offset, void* data, size_t& size);
