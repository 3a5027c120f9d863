// Writing a text to a file so that no file is lost: a regular file is replaced only once the
// new text is written whole beside it.
#pragma once

#include <string_view>

namespace kelvora {

// What replace_file returns for a write that wrote nothing (and gave no error number).
constexpr int write_zero = -1;

// Writes `text` to the file at `path`, created when missing. The target is first opened for
// writing, as a file written in place would be, so whatever cannot be opened so is refused with
// open()'s error number and left alone. A regular file (also one reached through a symbolic
// link) is then replaced: the text goes to a new file of a unique name in its directory, which
// takes the old file's permissions and is renamed over it once written and closed; a failure
// part-way removes the new file and leaves the old as it was (a target that this call created
// is removed again). Anything else (a FIFO, a terminal, /dev/stdout), and a file in a
// directory where no new file can be made, is written in place. Returns 0, an error number,
// or write_zero. `on_interrupt` is called whenever a system call is interrupted by a signal
// (a blocked open of a FIFO); it may throw to stop, which leaves the file as it was too.
int replace_file(const char* path, std::string_view text, void (*on_interrupt)());

}  // namespace kelvora
