// Files and directories on POSIX calls: reads, writes, listings, dates, deletion and renaming.
#include "services/os/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/integer.h"
#include "datatypes/string_storage.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "evaluator/dispatch.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "services/output.h"

namespace zem::files {

namespace {

// Pipes and files that report no size are read in chunks of this many bytes.
constexpr size_t kChunk = 65536;
// The most a series holds.
constexpr int64_t kMaxRead = kMaxSeriesBytes;

// A byte name written as a quoted text names the file without its quotes.
void strip_quotes(std::string& path) {
  if (path.empty() || path[0] != '"') return;
  path.erase(0, 1);
  if (!path.empty() && path.back() == '"') path.pop_back();
}

// Reads a whole stream that reports no size, until its end.
bool read_to_end(int fd, std::vector<uint8_t>& out, bool& too_large) {
  for (;;) {
    size_t at = out.size();
    if (static_cast<int64_t>(at) >= kMaxRead) {
      too_large = true;
      return false;
    }
    out.resize(at + kChunk);
    int64_t n = read_bytes(fd, out.data() + at, kChunk);
    if (n < 0) return false;
    out.resize(at + static_cast<size_t>(n));
    if (n < static_cast<int64_t>(kChunk)) return true;
  }
}

// Removes every CR that stands before an LF, in place; answers the new length.
size_t drop_cr_before_lf(uint8_t* bytes, size_t length) {
  uint8_t* end = bytes + length;
  uint8_t* cr = static_cast<uint8_t*>(std::memchr(bytes, '\r', length));
  if (!cr) return length;
  uint8_t* w = cr;
  const uint8_t* r = cr;
  while (r < end) {
    const uint8_t* next = static_cast<const uint8_t*>(std::memchr(r + 1, '\r', static_cast<size_t>(end - r - 1)));
    if (!next) next = end;
    // r is on a CR: keep it unless an LF follows, then copy up to the next CR.
    if (r + 1 < end && r[1] == '\n') r++;
    size_t n = static_cast<size_t>(next - r);
    std::memmove(w, r, n);
    w += n;
    r = next;
  }
  return static_cast<size_t>(w - bytes);
}

Cell text_cell(NodeId node, TypeId type = TYPE_STRING) {
  Cell s{};
  s.set_header(type);
  s.set_node(node);
  return s;
}

Cell decode_text(const uint8_t* bytes, size_t length) {
  uint32_t count = 0;
  return text_cell(unicode::load_utf8_series(bytes, length, 0, false, &count));
}

// The value of bytes read: binary, lines or text. The bytes are the caller's to change.
Cell convert(uint8_t* bytes, size_t length, bool binary, bool lines) {
  if (binary) return binary::load(bytes, static_cast<uint32_t>(length));
  if (lines) return split_lines(bytes, length);
  return decode_text(bytes, drop_cr_before_lf(bytes, length));
}

// Nothing read: an empty binary, an empty block of lines or an empty string.
Cell empty_value(bool binary, bool lines) {
  return binary ? binary::make(0) : lines ? block::make(0) : str::make_string(0);
}

bool is_dir_entry(int dir_fd, const struct dirent* e) {
  if (e->d_type == DT_DIR) return true;
  if (e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) return false;
  struct stat st;
  return ::fstatat(dir_fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

// Writes to standard output: a closed pipe or other failure ends the output quietly.
void write_stdout(const uint8_t* bytes, size_t length) {
  stdio::OutputState& out = stdio::output_state;
  if (out.broken || length == 0) return;
  if (write_bytes(stdio::handle(), bytes, length) < 0) out.broken = true;
}

[[noreturn]] void fire_refine(const char* name, const Cell& value) {
  Cell word = word::make_from_c_name(name);
  fire(Err::script_invalid_refine_arg, &word, &value);
}

}  // namespace

// ---- Handles ----

int open_file(const std::string& path, int mode) {
  int flags = O_CLOEXEC;
  if (mode & kWrite) {
    flags |= O_WRONLY | O_CREAT;
    if (!(mode & (kAppend | kSeek))) flags |= O_TRUNC;
  } else {
    flags |= O_RDONLY;
  }
  int fd;
  do fd = ::open(path.c_str(), flags, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st;
  if (!(mode & kWrite) && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {  // a directory is no file
    ::close(fd);
    errno = EISDIR;
    return -1;
  }
  return fd;
}

int64_t file_size(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  return S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
}

int64_t seek(int fd, int64_t offset) { return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET); }

int64_t read_bytes(int fd, void* buffer, size_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::read(fd, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t write_bytes(int fd, const void* buffer, size_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::write(fd, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) return -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

bool close_file(int fd) {
  // Linux releases the descriptor even when close reports an error: never close it twice.
  return ::close(fd) == 0;
}

// ---- Paths ----

bool os_path(const Cell& file, std::string& path) {
  path = url::to_local_path(file, false);
  return path.find('\0') == std::string::npos;
}

bool dir_path(const Cell& file) {
  std::string p = str::to_std_string(file);
  size_t n = p.size();
  if (n == 0) return false;
  auto slash = [](char c) { return c == '/' || c == '\\'; };
  if (slash(p[n - 1])) return true;
  if (p == "." || p == "..") return true;
  if (n >= 2 && p[n - 1] == '.' && slash(p[n - 2])) return true;
  return n >= 3 && p[n - 1] == '.' && p[n - 2] == '.' && slash(p[n - 3]);
}

bool file_exists(const Cell& file) {
  std::string path;
  struct stat st;
  return os_path(file, path) && ::stat(path.c_str(), &st) == 0;
}

bool make_dir(const Cell& file) {
  std::string path;
  return os_path(file, path) && !path.empty() && ::mkdir(path.c_str(), 0777) == 0;
}

// ---- Whole files ----

bool read_data(std::string path, int64_t limit, int64_t offset, bool binary, bool lines, bool wide_name,
               Cell& out, bool* too_large) {
  bool too_large_here = false;
  if (!too_large) too_large = &too_large_here;
  *too_large = false;
  if (!wide_name) strip_quotes(path);
  int fd = open_file(path, kRead);
  if (fd < 0) return false;
  struct Closer {
    int fd;
    ~Closer() { close_file(fd); }
  } closer{fd};
  int64_t size = file_size(fd);
  if (size < 0) return false;
  if (size == 0) {  // a pipe or a pseudo-file: its size shows only once it is read
    std::vector<uint8_t> all;
    if (!read_to_end(fd, all, *too_large)) return false;
    size_t from = offset > 0 ? static_cast<size_t>(std::min<int64_t>(offset, static_cast<int64_t>(all.size()))) : 0;
    size_t n = all.size() - from;
    if (limit >= 0) n = std::min(n, static_cast<size_t>(limit));
    out = n ? convert(all.data() + from, n, binary, lines) : empty_value(binary, lines);
    return true;
  }
  if (offset > 0) {
    // Past the end there is nothing to read (the size would go negative).
    if (offset >= size) {
      out = empty_value(binary, lines);
      return true;
    }
    if (seek(fd, offset) != offset) return false;
    size -= offset;
  }
  if (limit >= 0 && limit < size) size = limit;
  if (size == 0) {
    out = empty_value(binary, lines);
    return true;
  }
  if (size > kMaxRead) {
    *too_large = true;
    return false;
  }
  size_t count = static_cast<size_t>(size);
  if (binary) {  // straight into the new series
    Cell b = binary::make(static_cast<uint32_t>(count));
    SeriesBuffer* buf = series_buffer(b.node());
    if (read_bytes(fd, buf->head_ptr(), count) != size) return false;
    buf->tail = buf->head + static_cast<uint32_t>(count);
    out = b;
    return true;
  }
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[count]);
  if (read_bytes(fd, bytes.get(), count) != size) return false;
  out = convert(bytes.get(), count, false, lines);
  return true;
}

Cell read_file(const Cell& file, int64_t limit, int64_t offset, bool binary, bool lines) {
  if (dir_path(file)) return list_dir(file);
  std::string path;
  Cell out;
  bool too_large = false;
  if (!os_path(file, path) || !read_data(path, limit, offset, binary, lines, true, out, &too_large))
    fire(too_large ? Err::script_size_limit : Err::access_cannot_open, &file);
  return out;
}

Cell list_dir(const Cell& dir) {
  std::string path;
  if (!os_path(dir, path)) fire(Err::access_cannot_open, &dir);
  // A path ending in "." names the directory itself; the caller's value stays as it is.
  if (!path.empty() && path.back() == '.') path += '/';
  if (path.empty()) path = ".";
  DIR* d = ::opendir(path.c_str());
  if (!d) fire(Err::access_cannot_open, &dir);
  std::vector<std::string> names;
  int failed = 0;
  for (;;) {
    errno = 0;  // readdir tells its end from a failure only through errno
    const struct dirent* e = ::readdir(d);
    if (!e) {
      failed = errno;
      break;
    }
    if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
    names.emplace_back(e->d_name);
    if (is_dir_entry(::dirfd(d), e)) names.back() += '/';
  }
  ::closedir(d);
  if (failed) fire(Err::access_cannot_open, &dir);
  std::sort(names.begin(), names.end());
  Cell result = block::make(static_cast<uint32_t>(names.size()));
  for (const std::string& name : names) {
    uint32_t count = 0;
    NodeId node = unicode::load_utf8_series(reinterpret_cast<const uint8_t*>(name.data()), name.size(), 0,
                                            false, &count);
    block::append_cell(result, text_cell(node, TYPE_FILE));
  }
  return result;
}

std::string value_to_bytes(const Cell& value, int64_t limit, bool binary) {
  (void)binary;  // text is written with LF either way
  if (value.is(TYPE_BINARY)) {
    uint32_t n = binary::rs_length(value);
    if (limit >= 0 && limit < n) n = static_cast<uint32_t>(limit);
    return n ? std::string(reinterpret_cast<const char*>(binary::rs_head(value)), n) : std::string();
  }
  if (value.is(TYPE_STRING)) {
    Cell text = value;
    int32_t n = limit >= 0 && limit < 0x7FFFFFFF ? static_cast<int32_t>(limit) : -1;
    const char* utf8 = unicode::string_to_utf8(text, &n);
    return std::string(utf8, static_cast<size_t>(n));
  }
  return actions::mold_text(value);
}

int64_t write_data(const char* path, const Cell* block, const uint8_t* bytes, size_t length, int64_t offset,
                   bool binary, bool append, bool lines, bool wide_name, bool line_end) {
  std::string joined;
  if (lines && block) {
    // Each value of the block is one line; they go out in one write.
    const SeriesBuffer* b = series_buffer(block->node());
    uint32_t count = b->length() > block->head_index() ? b->length() - block->head_index() : 0;
    for (uint32_t i = 0; i < count; i++) {
      Cell item = series_buffer(block->node())->cells_head()[block->head_index() + i];
      joined += value_to_bytes(item, -1, binary);
      joined += '\n';
    }
    bytes = reinterpret_cast<const uint8_t*>(joined.data());
    length = joined.size();
  } else if (line_end) {
    joined.assign(reinterpret_cast<const char*>(bytes), length);
    joined += '\n';
    bytes = reinterpret_cast<const uint8_t*>(joined.data());
    length = joined.size();
  }
  if (!path) {
    write_stdout(bytes, length);
    return static_cast<int64_t>(length);
  }
  std::string name = path;
  if (!wide_name) strip_quotes(name);
  int mode = kWrite | (append ? kAppend : 0) | (offset >= 0 ? kSeek : 0);
  int fd = open_file(name, mode);
  if (fd < 0) return kCannotOpen;
  bool ok = true;
  if (offset > 0) ok = seek(fd, offset) == offset;
  if (ok && append) ok = ::lseek(fd, 0, SEEK_END) >= 0;
  if (ok && length) ok = write_bytes(fd, bytes, length) == static_cast<int64_t>(length);
  // A full disk can show only at close (network file systems): that is a failed write too.
  if (!close_file(fd)) ok = false;
  return ok ? static_cast<int64_t>(length) : kCannotWrite;
}

void write(const Cell* file, const Cell& value, const Cell* part, const Cell* seek, bool binary, bool append,
           bool lines) {
  int64_t limit = -1, offset = -1;
  if (part) {
    if (!part->is(TYPE_INTEGER)) fire_refine("part", *part);
    if (part->int_value() < 0) return;
    limit = part->int_value();
  }
  if (seek) {
    // A negative offset would otherwise empty the file before writing at its start.
    if (!seek->is(TYPE_INTEGER) || seek->int_value() < 0) fire_refine("seek", *seek);
    offset = seek->int_value();
  }
  std::string path;
  if (file && !os_path(*file, path)) fire(Err::access_cannot_open, file);
  const char* name = file ? path.c_str() : nullptr;
  int64_t r;
  if (lines && value.is(TYPE_BLOCK)) {
    r = write_data(name, &value, nullptr, 0, offset, binary, append, true, true, false);
  } else {
    std::string bytes = value_to_bytes(value, limit, binary);
    r = write_data(name, nullptr, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), offset, binary,
                   append, false, true, lines);
  }
  if (r == kCannotOpen) fire(Err::access_cannot_open, file);
  if (r == kCannotWrite) fire(Err::access_cannot_write, file);
}

// ---- Queries and changes ----

Cell query_file(const Cell& file) {
  std::string path;
  struct stat st;
  if (!os_path(file, path) || ::stat(path.c_str(), &st) != 0) return make_none();
  if (!path.empty() && (path.back() == '/' || path.back() == '\\') && !S_ISDIR(st.st_mode)) return make_none();
  struct tm t;
  time_t secs = st.st_mtim.tv_sec;
  if (!::gmtime_r(&secs, &t)) return make_none();
  Cell date;
  dates::set_ymd_hms(date, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                     static_cast<int32_t>(st.st_mtim.tv_nsec));
  return date;
}

bool delete_file(const Cell& file) {
  std::string path;
  if (!os_path(file, path) || path.empty()) return false;
  return dir_path(file) ? ::rmdir(path.c_str()) == 0 : ::unlink(path.c_str()) == 0;
}

bool rename_file(const Cell& from, const Cell& to) {
  std::string a, b;
  if (!os_path(from, a) || !os_path(to, b) || a.empty() || b.empty()) return false;
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  return rename_by_link(a, b);
}

bool rename_by_link(const std::string& a, const std::string& b) {
  // A new link fails on an existing name by itself.
  struct stat st;
  if (::lstat(a.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) && ::link(a.c_str(), b.c_str()) == 0) {
    if (::unlink(a.c_str()) == 0) return true;
    ::unlink(b.c_str());
    return false;
  }
  if (!S_ISDIR(st.st_mode) && errno == EEXIST) return false;
  // Directories, and file systems without links: look first. Another process may create the
  // target between the look and the rename.
  if (::lstat(b.c_str(), &st) == 0 || errno != ENOENT) return false;
  return ::rename(a.c_str(), b.c_str()) == 0;
}

// ---- Text ----

Cell split_lines(const uint8_t* bytes, size_t length) {
  Cell result = block::make(16);
  size_t start = 0;
  while (start < length) {
    const void* lf = std::memchr(bytes + start, '\n', length - start);
    size_t end = lf ? static_cast<size_t>(static_cast<const uint8_t*>(lf) - bytes) : length;
    size_t stop = lf && end > start && bytes[end - 1] == '\r' ? end - 1 : end;
    uint32_t count = 0;
    NodeId node = unicode::load_utf8_series(bytes + start, stop - start, 0, false, &count);
    block::append_cell(result, text_cell(node));
    start = end + 1;
  }
  return result;
}

Cell load_text(const uint8_t* bytes, size_t length) {
  std::unique_ptr<uint8_t[]> copy;
  if (std::memchr(bytes, '\r', length)) {
    copy.reset(new uint8_t[length]);
    std::memcpy(copy.get(), bytes, length);
    length = drop_cr_before_lf(copy.get(), length);
    bytes = copy.get();
  }
  return decode_text(bytes, length);
}

}  // namespace zem::files
