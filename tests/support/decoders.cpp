#include "support/decoders.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "dng/dng.h"

namespace tamzel::testing {

// ---------------------------------------------------------------------------------------------
// Processes

namespace {

void drainInto(int fd, std::string& sink, bool& open) {
  char buffer[65536];
  ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    sink.append(buffer, static_cast<std::size_t>(n));
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    open = false;
  }
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& workDir) {
  ProcessResult result;
  if (argv.empty()) return result;
  int outPipe[2], errPipe[2], execPipe[2];
  if (pipe(outPipe) != 0) return result;
  if (pipe(errPipe) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  if (pipe2(execPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    close(errPipe[0]);
    close(errPipe[1]);
    return result;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    // Child: only async-signal-safe calls from here on.
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, STDIN_FILENO);
    dup2(outPipe[1], STDOUT_FILENO);
    dup2(errPipe[1], STDERR_FILENO);
    close(outPipe[0]);
    close(errPipe[0]);
    close(execPipe[0]);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) {
      int e = errno;
      ssize_t ignored = write(execPipe[1], &e, sizeof e);
      (void)ignored;
      _exit(127);
    }
    execvp(args[0], args.data());
    int e = errno;
    ssize_t ignored = write(execPipe[1], &e, sizeof e);
    (void)ignored;
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  close(execPipe[1]);
  if (pid < 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    close(execPipe[0]);
    return result;
  }
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[2];
    nfds_t count = 0;
    if (outOpen) fds[count++] = {outPipe[0], POLLIN, 0};
    if (errOpen) fds[count++] = {errPipe[0], POLLIN, 0};
    if (poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == outPipe[0]) {
        drainInto(outPipe[0], result.out, outOpen);
      } else {
        drainInto(errPipe[0], result.err, errOpen);
      }
    }
  }
  close(outPipe[0]);
  close(errPipe[0]);
  int execErrno = 0;
  bool execFailed = read(execPipe[0], &execErrno, sizeof execErrno) == sizeof execErrno;
  close(execPipe[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (execFailed) {
    result.err += std::string("cannot run ") + argv[0] + ": " + std::strerror(execErrno);
    return result;
  }
  result.started = true;
  if (WIFEXITED(status)) {
    result.exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.exitStatus = 128 + WTERMSIG(status);
  }
  return result;
}

bool haveProgram(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);  // keep going on failure; a leftover in the temporary folder is harmless
  return 0;
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tamzel-test.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
}

TempDir::~TempDir() {
  if (!path_.empty()) nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::file(const std::string& name) const {
  return path_ + "/" + name;
}

// ---------------------------------------------------------------------------------------------
// Raw samples

RawSamples parsePgm(const std::string& bytes) {
  RawSamples r;
  std::size_t pos = 0;
  auto skipSpaceAndComments = [&] {
    while (pos < bytes.size()) {
      if (bytes[pos] == '#') {
        while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
      } else if (bytes[pos] == ' ' || bytes[pos] == '\t' || bytes[pos] == '\r' ||
                 bytes[pos] == '\n') {
        ++pos;
      } else {
        break;
      }
    }
  };
  auto number = [&](uint32_t& out) {
    skipSpaceAndComments();
    std::size_t begin = pos;
    uint64_t v = 0;
    while (pos < bytes.size() && bytes[pos] >= '0' && bytes[pos] <= '9' && v < 0xFFFFFFFFu) {
      v = v * 10 + static_cast<uint64_t>(bytes[pos] - '0');
      ++pos;
    }
    out = static_cast<uint32_t>(v);
    return pos > begin && v <= 0xFFFFFFFFu;
  };
  if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '5') {
    r.error = "not a binary PGM (" + std::to_string(bytes.size()) + " bytes)";
    return r;
  }
  pos = 2;
  if (!number(r.width) || !number(r.height) || !number(r.maxval) || r.maxval == 0 ||
      r.maxval > 65535) {
    r.error = "bad PGM header";
    return r;
  }
  ++pos;  // the single whitespace byte after maxval
  const std::size_t bytesPerSample = r.maxval > 255 ? 2 : 1;
  const uint64_t count = uint64_t{r.width} * r.height;
  if (pos > bytes.size() || (bytes.size() - pos) / bytesPerSample < count) {
    r.error = "PGM data shorter than its header says";
    return r;
  }
  r.samples.resize(count);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data() + pos);
  for (uint64_t i = 0; i < count; ++i) {
    r.samples[i] = bytesPerSample == 2 ? static_cast<uint16_t>((data[2 * i] << 8) | data[2 * i + 1])
                                       : static_cast<uint16_t>(data[i]);
  }
  r.ok = true;
  return r;
}

RawSamples decodeWithDcraw(const std::string& path) {
  ProcessResult p = runProcess({"dcraw", "-D", "-4", "-c", path});
  if (!p.started || p.exitStatus != 0) {
    RawSamples r;
    r.error = "dcraw exit " + std::to_string(p.exitStatus) + ": " + p.err;
    return r;
  }
  RawSamples r = parsePgm(p.out);
  if (!p.err.empty()) {
    // dcraw reports damaged data ("Unexpected end of file") on stderr and still exits 0.
    r.ok = false;
    r.error = "dcraw: " + p.err;
  }
  return r;
}

RawSamples decodeWithLibRaw(const std::string& path) {
  RawSamples r;
  TempDir dir;
  const std::string copy = dir.file("frame.dng");
  {
    std::ifstream in(path, std::ios::binary);
    std::ofstream out(copy, std::ios::binary);
    out << in.rdbuf();
    if (!in || !out) {
      r.error = "cannot copy " + path + " for unprocessed_raw";
      return r;
    }
  }
  ProcessResult p = runProcess({"unprocessed_raw", "-q", "frame.dng"}, dir.path());
  if (!p.started || p.exitStatus != 0) {
    r.error = "unprocessed_raw exit " + std::to_string(p.exitStatus) + ": " + p.out + p.err;
    return r;
  }
  std::ifstream pgm(copy + ".pgm", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(pgm)), std::istreambuf_iterator<char>());
  r = parsePgm(bytes);
  if (!r.ok) r.error = "unprocessed_raw: " + r.error + " " + p.out + p.err;
  return r;
}

namespace {

struct TiffEntry {
  uint16_t type = 0;
  uint32_t count = 0;
  uint32_t valueField = 0;  // host order as a 32-bit number
  uint64_t entryOffset = 0;
};

// One numeric value (SHORT or LONG) of an entry, index i.
bool entryValue(const ByteView& view, const ByteOrder& order, const TiffEntry& e, uint32_t i,
                uint32_t& out) {
  const uint32_t size = e.type == 3 ? 2 : e.type == 4 ? 4 : 0;
  if (size == 0 || i >= e.count) return false;
  uint64_t at = uint64_t{e.count} * size <= 4 ? e.entryOffset + 8 + uint64_t{i} * size
                                              : uint64_t{e.valueField} + uint64_t{i} * size;
  if (size == 2) {
    uint16_t v = 0;
    if (!view.read16(at, order, v)) return false;
    out = v;
    return true;
  }
  return view.read32(at, order, out);
}

}  // namespace

RawSamples decodeTiledWithOwnDecoder(const std::vector<uint8_t>& file) {
  RawSamples r;
  ByteView view(file.data(), file.size());
  ByteOrder order;
  uint8_t b0 = 0, b1 = 0;
  if (!view.readU8(0, b0) || !view.readU8(1, b1) || b0 != b1 || (b0 != 'I' && b0 != 'M')) {
    r.error = "not TIFF";
    return r;
  }
  order.littleEndian = b0 == 'I';
  uint32_t ifd = 0;
  uint16_t count = 0;
  if (!view.read32(4, order, ifd) || !view.read16(ifd, order, count)) {
    r.error = "no IFD0";
    return r;
  }
  std::map<uint16_t, TiffEntry> entries;
  for (uint32_t k = 0; k < count; ++k) {
    const uint64_t at = uint64_t{ifd} + 2 + 12 * uint64_t{k};
    uint16_t tag = 0;
    TiffEntry e;
    e.entryOffset = at;
    if (!view.read16(at, order, tag) || !view.read16(at + 2, order, e.type) ||
        !view.read32(at + 4, order, e.count) || !view.read32(at + 8, order, e.valueField)) {
      r.error = "IFD0 runs past the file";
      return r;
    }
    entries[tag] = e;
  }
  auto single = [&](uint16_t tag, uint32_t& out) {
    auto it = entries.find(tag);
    return it != entries.end() && entryValue(view, order, it->second, 0, out);
  };
  uint32_t width = 0, height = 0, bits = 0, compression = 0, tileWidth = 0, tileLength = 0;
  if (!single(256, width) || !single(257, height) || !single(258, bits) ||
      !single(259, compression) || !single(322, tileWidth) || !single(323, tileLength) ||
      entries.count(324) == 0 || entries.count(325) == 0) {
    r.error = "missing image or tile tags";
    return r;
  }
  if (compression != 7 || tileWidth == 0 || tileLength == 0 || tileWidth % 2 != 0 ||
      width % tileWidth != 0) {
    r.error = "unexpected tile geometry";
    return r;
  }
  const uint32_t across = width / tileWidth;
  const uint32_t down = (height + tileLength - 1) / tileLength;
  const TiffEntry offsets = entries[324];
  const TiffEntry byteCounts = entries[325];
  if (offsets.count != across * down || byteCounts.count != across * down) {
    r.error = "tile arrays do not match the grid";
    return r;
  }
  r.width = width;
  r.height = height;
  r.maxval = (1u << bits) - 1;
  r.samples.assign(uint64_t{width} * height, 0);
  for (uint32_t t = 0; t < across * down; ++t) {
    uint32_t offset = 0, length = 0;
    if (!entryValue(view, order, offsets, t, offset) ||
        !entryValue(view, order, byteCounts, t, length) || !view.contains(offset, length)) {
      r.error = "tile " + std::to_string(t) + " outside the file";
      return r;
    }
    LosslessImage image;
    DecodeStatus status = decodeLosslessJpeg(file.data() + offset, length, image);
    if (status != DecodeStatus::Ok) {
      r.error = "tile " + std::to_string(t) + ": " + describeDecodeStatus(status);
      return r;
    }
    if (image.components != 2 || image.width * 2 != tileWidth || image.height != tileLength ||
        image.precision != bits) {
      r.error = "tile " + std::to_string(t) + " has an unexpected frame header";
      return r;
    }
    const uint32_t row0 = (t / across) * tileLength;
    const uint32_t column0 = (t % across) * tileWidth;
    for (uint32_t y = 0; y < tileLength && row0 + y < height; ++y) {
      for (uint32_t x = 0; x < tileWidth; ++x) {
        const uint64_t source = (uint64_t{y} * image.width + x / 2) * 2 + (x % 2);
        r.samples[uint64_t{row0 + y} * width + column0 + x] = image.samples[source];
      }
    }
  }
  r.ok = true;
  return r;
}

// ---------------------------------------------------------------------------------------------
// Metadata

namespace {

// Just enough JSON for exiftool's -j output: an array of flat objects.
class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}

  bool parse(std::vector<std::map<std::string, std::string>>& out) {
    skip();
    if (!eat('[')) return false;
    skip();
    if (eat(']')) return true;
    do {
      skip();
      std::map<std::string, std::string> object;
      if (!parseObject(object)) return false;
      out.push_back(std::move(object));
      skip();
    } while (eat(','));
    return eat(']');
  }

 private:
  bool parseObject(std::map<std::string, std::string>& object) {
    if (!eat('{')) return false;
    skip();
    if (eat('}')) return true;
    do {
      skip();
      std::string key, value;
      if (!parseString(key)) return false;
      skip();
      if (!eat(':')) return false;
      skip();
      if (!parseValue(value)) return false;
      object[key] = value;
      skip();
    } while (eat(','));
    return eat('}');
  }

  bool parseValue(std::string& value) {
    if (pos_ >= s_.size()) return false;
    if (s_[pos_] == '"') return parseString(value);
    const std::size_t begin = pos_;
    int depth = 0;
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      if (c == '"') {
        std::string ignored;
        if (!parseString(ignored)) return false;
        continue;
      }
      if (c == '[' || c == '{') ++depth;
      if (c == ']' || c == '}') {
        if (depth == 0) break;
        --depth;
      }
      if (c == ',' && depth == 0) break;
      ++pos_;
    }
    value = s_.substr(begin, pos_ - begin);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\n' || value.back() == '\r'))
      value.pop_back();
    return !value.empty();
  }

  bool parseString(std::string& out) {
    if (!eat('"')) return false;
    while (pos_ < s_.size()) {
      const char c = s_[pos_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= s_.size()) return false;
      const char e = s_[pos_++];
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          if (pos_ + 4 > s_.size()) return false;
          const unsigned cp =
              static_cast<unsigned>(std::strtoul(s_.substr(pos_, 4).c_str(), nullptr, 16));
          pos_ += 4;
          if (cp < 0x80) {
            out += static_cast<char>(cp);
          } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
          } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
          }
          break;
        }
        default:
          out += e;
          break;
      }
    }
    return false;
  }

  void skip() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t'))
      ++pos_;
  }
  bool eat(char c) {
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  const std::string& s_;
  std::size_t pos_ = 0;
};

}  // namespace

std::vector<std::map<std::string, std::string>> readExifTags(
    const std::vector<std::string>& paths) {
  std::vector<std::string> argv = {"exiftool", "-j", "-G1", "-n", "-a"};
  argv.insert(argv.end(), paths.begin(), paths.end());
  ProcessResult p = runProcess(argv);
  std::vector<std::map<std::string, std::string>> parsed;
  if (!p.started || !JsonReader(p.out).parse(parsed) || parsed.size() != paths.size()) return {};
  for (auto& object : parsed) {
    for (auto it = object.begin(); it != object.end();) {
      const std::string& key = it->first;
      if (key == "SourceFile" || key == "ExifTool:ExifToolVersion" ||
          key.rfind("System:", 0) == 0) {
        it = object.erase(it);
      } else {
        ++it;
      }
    }
  }
  return parsed;
}

std::map<std::string, std::string> tagsWithPrefix(const std::map<std::string, std::string>& tags,
                                                  const std::string& prefix) {
  std::map<std::string, std::string> out;
  for (const auto& [key, value] : tags) {
    if (key.rfind(prefix, 0) == 0) out[key] = value;
  }
  return out;
}

ProcessResult runTiffdump(const std::string& path) {
  return runProcess({"tiffdump", path});
}

}  // namespace tamzel::testing
