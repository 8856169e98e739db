// Files people keep, opened only when regular and without blocking, so that
// a FIFO, a device or a folder in their place can neither hang the program
// nor feed it without end; the loops carry on after a signal or a short
// transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The regular file at `path`, open with `flags`; or why not. One that is
// not regular is refused by its name, never opened; the check on the open
// file catches one put in its place meanwhile.
struct RegularFile {
    int fd = -1;
    int error = 0;            // errno; EISDIR for a folder
    bool notRegular = false;  // a folder, a FIFO, a device
};
RegularFile openRegular(const std::string& path, int flags);

struct RegularFileText {
    enum class Status { Read, CannotOpen, NotRegular, CannotRead };
    Status status = Status::Read;
    int error = 0;     // errno, for CannotOpen and CannotRead
    std::string text;  // for Read: at most the limit asked for, from the start
};

// Reads at most `limit` bytes of the file at `path`.
RegularFileText readRegularFile(const std::string& path, size_t limit);

// Writes all of `size` bytes at the descriptor's offset; 0 or an errno.
int writeAll(int fd, const void* data, size_t size);

// Reads `bytes` from `offset`, fewer only at the end of the file (`bytes`
// is cut to what was read); 0 or an errno.
int readAt(int fd, uint64_t offset, std::vector<uint8_t>& bytes);
