// Owning pointers for the C library's streams and directory streams, each
// closed exactly once, on scope exit.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <memory>

namespace zorbel {

struct FileCloser {
    void operator()(std::FILE *f) const noexcept { std::fclose(f); }
};
struct DirCloser {
    void operator()(DIR *d) const noexcept { closedir(d); }
};

// A stream from fopen, fdopen or fmemopen.
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
// A directory stream from opendir or fdopendir.
using DirPtr = std::unique_ptr<DIR, DirCloser>;

}  // namespace zorbel
