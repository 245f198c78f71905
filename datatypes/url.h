// url! and file!: strings that name resources. Both keep string!'s storage and series actions; url!
// adds its percent-encoded mold, construction from a block and path steps that append a segment;
// file! adds its "%" mold (quoted when needed) and the local path form. Reading and writing belong
// to the file and URL services.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/support.h"

namespace zem::url {

// Bytes kept as they are by the strict encoder: letters, digits, "-", ".", "_" and "~".
bool in_strict_set(uint8_t b);
// Bytes kept by url! mold: the printable ASCII characters but space, the double quote, "%", ";",
// "<", ">", "[", "\", "]", "^", "`", "{", "|", "}", and "(" and ")", which would end a url token.
bool in_lax_set(uint8_t b);

// Writes UTF-8 bytes with every byte outside the chosen set as "%" and two upper-case hexadecimal
// digits. At most `limit` characters are written; answers the limit reduced by those written.
int32_t percent_encode(std::string_view utf8, bool strict, TextOut& out, int32_t limit = 2147483647);

// Decodes "%" and two hexadecimal digits into a byte. A byte that leads a UTF-8 sequence takes the
// following triples as its continuation bytes; when the sequence is incomplete or not valid UTF-8
// the "%" stays as it is and decoding goes on after it. Other bytes are copied.
std::string percent_decode(std::string_view utf8);

// The local (POSIX) path of a file: its text, with the current directory (ending in "/") put in
// front of a relative one when `full`.
std::string to_local_path(const Cell& file, bool full);

void register_url_type();
void register_file_type();

}  // namespace zem::url
