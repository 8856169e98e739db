// What libsndfile says went wrong with a file, as a message shows it.
#pragma once

#include <sndfile.h>

#include <string>

// libsndfile's sentence for `file` (or for the last failed open, given
// nothing), without the "System error : " before it or the full stop after.
std::string libraryText(SNDFILE* file);
