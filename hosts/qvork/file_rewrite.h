// Changing the files a copy wrote: read whole, rewritten in place, put in
// place through a new file beside them (a full disk or a signal leaves the
// file as it was), decoded.
#ifndef QVORK_HOSTS_QVORK_FILE_REWRITE_H
#define QVORK_HOSTS_QVORK_FILE_REWRITE_H

#include <cstdint>
#include <functional>
#include <string>

#include "hosts/qvork/web/body_decode.h"

namespace qvork_host {

// The bytes of the file at `path`; false when it cannot be opened or read.
bool ReadWhole(const std::string &path, std::string &bytes);

// Rewrites the file at `path` in place with what `change` makes of its
// bytes; `size` gets the file's new size. Nothing is written when nothing
// changes; false when it could not be read or written.
bool RewriteFile(const std::string &path,
                 const std::function<std::string(const std::string &)> &change,
                 uint64_t &size);

// Puts `bytes` in place of the file at `path` (or makes it), through a new
// file beside it and a rename: a full disk leaves the file as it was.
bool WriteWhole(const std::string &path, const std::string &bytes);

// Decodes the file at `path` in place; false with `error` when it does not
// decode (the file then stays as stored).
bool DecodeInPlace(const std::string &path, const BodyCoding &coding, std::string &error);

} // namespace qvork_host

#endif
