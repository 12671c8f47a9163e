// Whole-file input and output for the command line: read a file into memory, write a file so
// that it is either complete or not there at all.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cli/cli.h"

namespace tamzel::cli {

namespace {

std::string reason(int error) {
  return std::strerror(error);
}

}  // namespace

FileBytes readWholeFile(const std::string& path) {
  FileBytes result;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    result.error = "cannot open " + path + ": " + reason(errno);
    return result;
  }
  struct stat st {};
  if (fstat(fileno(f), &st) != 0) {
    result.error = "cannot read " + path + ": " + reason(errno);
    std::fclose(f);
    return result;
  }
  if (S_ISDIR(st.st_mode)) {
    result.error = "cannot read " + path + ": " + reason(EISDIR);
    std::fclose(f);
    return result;
  }
  // A regular file is read in one go; anything else (a pipe, a device) until its end.
  std::size_t expected = S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) : 0;
  std::size_t have = 0;
  bool grown = true;
  while (grown) {
    std::size_t want = expected > have ? expected - have : std::size_t{1} << 20;
    try {
      result.bytes.resize(have + want);
    } catch (const std::bad_alloc&) {
      result.error = "cannot read " + path + ": " + reason(ENOMEM);
      std::fclose(f);
      return result;
    }
    std::size_t got = std::fread(result.bytes.data() + have, 1, want, f);
    have += got;
    grown = got == want;  // a short read is the end of the file or an error
  }
  result.bytes.resize(have);
  if (std::ferror(f)) {
    int e = errno;
    result.error = "cannot read " + path + ": " + reason(e != 0 ? e : EIO);
    std::fclose(f);
    return result;
  }
  std::fclose(f);
  result.ok = true;
  return result;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

namespace {

// Writes everything to an open stream and closes it; returns 0 or the errno of the failure.
int writeAndClose(std::FILE* f, const uint8_t* data, std::size_t size, bool sync) {
  int error = 0;
  if (size > 0 && std::fwrite(data, 1, size, f) != size) error = errno != 0 ? errno : EIO;
  if (error == 0 && std::fflush(f) != 0) error = errno != 0 ? errno : EIO;
  if (error == 0 && sync && fsync(fileno(f)) != 0) error = errno;
  if (std::fclose(f) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  return error;
}

}  // namespace

std::string writeWholeFile(const std::string& path, const uint8_t* data, std::size_t size) {
  // Write through a symbolic link to the file it names rather than replacing the link.
  std::string target = path;
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) target = resolved;
  }
  bool exists = stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return "cannot write " + path + ": " + reason(EISDIR);
  if (exists && !S_ISREG(st.st_mode)) {
    // A device or pipe cannot be replaced by renaming; it is written in place.
    errno = 0;
    std::FILE* f = std::fopen(target.c_str(), "wb");
    if (f == nullptr) return "cannot write " + path + ": " + reason(errno);
    int error = writeAndClose(f, data, size, false);
    return error == 0 ? "" : "cannot write " + path + ": " + reason(error);
  }

  // A temporary file next to the target, renamed over it once it is complete.
  std::size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string pattern = folder + (folder.back() == '/' ? "" : "/") + "." + name + ".tamzel-XXXXXX";
  std::vector<char> temp(pattern.begin(), pattern.end());
  temp.push_back('\0');
  int fd = mkstemp(temp.data());
  if (fd < 0) return "cannot create " + path + ": " + reason(errno);
  // mkstemp creates the file private; give it the mode the replaced file had or a new file
  // would get.
  mode_t mode = 0;
  if (exists) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  if (fchmod(fd, mode) != 0) {
    int e = errno;
    close(fd);
    unlink(temp.data());
    return "cannot create " + path + ": " + reason(e);
  }
  std::FILE* f = fdopen(fd, "wb");
  if (f == nullptr) {
    int e = errno;
    close(fd);
    unlink(temp.data());
    return "cannot write " + path + ": " + reason(e);
  }
  int error = writeAndClose(f, data, size, true);
  if (error == 0 && std::rename(temp.data(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temp.data());
    return "cannot write " + path + ": " + reason(error);
  }
  return "";
}

}  // namespace tamzel::cli
