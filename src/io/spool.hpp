// A spool: an unnamed file for data that has to wait before it joins a
// file being written (the notes of a MIDI file wait for its tempo map).
// It lives on the disk beside that file, not in memory, and vanishes when
// closed, whatever ends the program.
#pragma once

#include <string>

// Opens a spool in `folder` for reading and writing into `fd`; 0 or an errno.
int openSpool(const std::string& folder, int& fd);
