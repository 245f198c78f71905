// Files and directories on POSIX calls: whole-file reads and writes, listings, dates, deletion,
// renaming, directories and existence, and the plain handle operations beneath them.
//
// Linux decisions:
// - A file! names its POSIX path as it is (the local path is the text itself); "/" is the root
//   directory, there are no drives.
// - Text is written as UTF-8 with LF line ends; a text read turns CR LF into LF (a lone CR stays).
//   Text that is not valid UTF-8 raises access `invalid-utf8` with the bytes where it fails.
// - Directory listings come sorted by name (byte order), "." and ".." left out; an entry that is a
//   directory, or a link to one, ends in "/".
// - A read of 2 GiB or more cannot be held by a series: it answers none, and `read` (and `checksum`
//   of the file) raises script `size-limit` ("maximum limit reached:") naming the file; `size?` of
//   such a file raises script `type-limit` (integer!).
// - Every read and write goes round again after a partial transfer or EINTR. A write that fails or
//   stops short, or a close that reports an error, raises access `cannot-write` naming the file;
//   standard output keeps the writer's rule: a closed pipe ends the output quietly.
// - A rename never replaces an existing file: the target must not exist.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace zem::files {

// ---- Handles ----

enum OpenMode : int { kRead = 1, kWrite = 2, kAppend = 4, kSeek = 8 };

// A descriptor, or -1. Reading opens an existing file that is not a directory; writing creates
// the file, emptying it unless append or seek is asked for.
int open_file(const std::string& path, int mode);
// Size in bytes, 0 for pipes and most pseudo-files; -1 on failure.
int64_t file_size(int fd);
// New position, counted from the start; -1 on failure.
int64_t seek(int fd, int64_t offset);
// Reads until `count` bytes or the end of the file: the bytes read, -1 on failure.
int64_t read_bytes(int fd, void* buffer, size_t count);
// Writes all `count` bytes: `count`, or -1 when the system takes fewer (full disk, closed pipe).
int64_t write_bytes(int fd, const void* buffer, size_t count);
bool close_file(int fd);

// ---- Paths ----

// The path the system calls take for a file! (its text from the position). False when the text
// cannot name a file (an embedded NUL).
bool os_path(const Cell& file, std::string& path);
// Ends in "/" or "\", or is "." or "..", or ends in a slash followed by one or two dots.
bool dir_path(const Cell& file);
bool file_exists(const Cell& file);
bool make_dir(const Cell& file);

// ---- Whole files ----

// The content as binary!, a block! of lines, or text; a directory path gives its listing. Fails
// with access `cannot-open` naming the file. `limit` and `offset` are -1 when not given.
Cell read_file(const Cell& file, int64_t limit, int64_t offset, bool binary, bool lines);
// The same for a path, none (false) when the file cannot be opened or read whole; `too_large`, when
// given, tells whether it was refused for a size a series cannot hold. An offset past the end gives
// an empty value.
bool read_data(std::string path, int64_t limit, int64_t offset, bool binary, bool lines, bool wide_name,
               Cell& out, bool* too_large = nullptr);
// The entries of a directory as file! values; access `cannot-open` when it cannot be read.
Cell list_dir(const Cell& dir);

// Writes a value to the file, or to standard output when `file` is null. `part` and `seek` are the
// refinement arguments or null. Strings go as UTF-8, binaries as they are, other values molded.
void write(const Cell* file, const Cell& value, const Cell* part, const Cell* seek, bool binary,
           bool append, bool lines);

enum WriteResult : int64_t { kCannotOpen = -1, kCannotWrite = -2 };
// Writes `bytes` (or, with a block and `lines`, each of its values as a line) to the path, or to
// standard output when `path` is null. Answers the bytes written, or a WriteResult.
int64_t write_data(const char* path, const Cell* block, const uint8_t* bytes, size_t length, int64_t offset,
                   bool binary, bool append, bool lines, bool wide_name, bool line_end);

// The bytes a value is written as: UTF-8 text of a string (at most `limit` code points when
// limit >= 0), the bytes of a binary from its head (at most `limit`), else its molded text.
std::string value_to_bytes(const Cell& value, int64_t limit, bool binary);

// ---- Queries and changes ----

// Date of the last write, in UTC with nanoseconds; none when the file is missing, or when the
// path ends in "/" and names something other than a directory.
Cell query_file(const Cell& file);
// Directory paths remove an empty directory, others a file.
bool delete_file(const Cell& file);
// False, leaving both names as they were, when the target exists or the rename fails.
bool rename_file(const Cell& from, const Cell& to);
// The same where the file system cannot refuse to replace (no RENAME_NOREPLACE): a link and an
// unlink for a file, a look and then a rename for a directory (another process may create the
// target between the two).
bool rename_by_link(const std::string& from, const std::string& to);

// ---- Text ----

// One string per line: a line ends at LF, a CR just before it is dropped; text after the last LF
// is a last line when not empty.
Cell split_lines(const uint8_t* bytes, size_t length);
// UTF-8 text (a leading byte-order mark skipped) with CR LF turned into LF.
Cell load_text(const uint8_t* bytes, size_t length);

}  // namespace zem::files
