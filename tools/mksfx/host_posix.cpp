#include "host.h"
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <iconv.h>
#include <locale.h>
#include <wctype.h>
#include <sys/stat.h>
#include <unistd.h>

FileFacts host_stat(const std::string &path, std::string *error) {
  FileFacts f;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = strerror(errno);
    f.dangling = errno == ENOENT && lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    if (f.dangling) *error = "a symbolic link to nothing";
    return f;
  }
  f.exists = true;
  f.directory = S_ISDIR(st.st_mode);
  f.regular = S_ISREG(st.st_mode);
  f.writable = (st.st_mode & S_IWUSR) != 0;
  f.size = (uint64_t)st.st_size;
  f.mtime = (int64_t)st.st_mtim.tv_sec;
  f.volume = (uint64_t)st.st_dev;
  f.file_id = (uint64_t)st.st_ino;
  return f;
}

bool host_list(const std::string &dir, std::vector<std::string> *names, std::string *error) {
  DIR *d = opendir(dir.c_str());
  if (!d) {
    *error = strerror(errno);
    return false;
  }
  while (struct dirent *e = readdir(d))
    if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names->push_back(e->d_name);
  closedir(d);
  return true;
}

bool host_to_codepage(const std::string &utf8, unsigned codepage, std::string *out) {
  iconv_t cd = iconv_open(("CP" + std::to_string(codepage)).c_str(), "UTF-8");
  if (cd == (iconv_t)-1) return false;
  out->assign(utf8.size() * 2 + 4, '\0');
  char *in = (char *)utf8.data(), *o = out->data();
  size_t in_left = utf8.size(), out_left = out->size();
  size_t r = iconv(cd, &in, &in_left, &o, &out_left);
  iconv_close(cd);
  out->resize(out->size() - out_left);
  return r != (size_t)-1;
}

bool host_match(const std::string &pattern, const std::string &name) {
  return fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
}

std::string host_program_dir() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n <= 0) return "";
  self[n] = 0;
  std::string path(self);
  return path.substr(0, path.rfind('/') + 1);
}

namespace {

// Every piece, in order; *failure says what went wrong making one. *program:
// the output starts as a Windows program does ("MZ").
bool write_all(int fd, const Pieces &pieces, std::string *failure, bool *program) {
  std::vector<uint8_t> bytes;
  for (bool first = true; pieces(&bytes, failure); first = false) {
    if (first) *program = bytes.size() > 1 && bytes[0] == 'M' && bytes[1] == 'Z';
    for (size_t done = 0; done < bytes.size();) {
      ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += (size_t)n;
    }
  }
  return failure->empty();
}

// The file a path names through any chain of symbolic links, which need not
// exist yet; the path itself when a link cannot be read.
std::string link_target(std::string path) {
  struct stat st;
  for (int hops = 0; hops < 40 && lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode); ++hops) {
    std::string target(4096, '\0');
    ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n <= 0) break;
    target.resize((size_t)n);
    size_t slash = path.rfind('/');
    path = target[0] == '/' || slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
  }
  return path;
}

}  // namespace

// Standard output, a device or a pipe is written as it is, a write error an
// error. A file is written beside itself and renamed over the old one when
// whole, with the mode a new file gets under the umask, as cc and zip give.
bool host_write_whole(const std::string &given, const Pieces &pieces, std::string *error) {
  errno = 0;
  struct stat st;
  std::string path = link_target(given);
  if (given == "-" || (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))) {
    int fd = given == "-" ? 1 : open(path.c_str(), O_WRONLY);
    std::string failure;
    bool program, ok = fd >= 0 && write_all(fd, pieces, &failure, &program);
    if (given != "-" && fd >= 0) ok &= close(fd) == 0;
    if (!ok) *error = failure.empty() ? strerror(errno ? errno : EIO) : failure;
    return ok;
  }
  std::string temp = path + ".mksfx-XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) {
    *error = strerror(errno);
    return false;
  }
  mode_t mask = umask(0);
  umask(mask);
  std::string failure;
  bool program = false, ok = write_all(fd, pieces, &failure, &program);
  ok = ok && fchmod(fd, (program ? 0777 : 0666) & ~mask) == 0;
  ok &= close(fd) == 0;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    *error = failure.empty() ? strerror(errno ? errno : EIO) : failure;
    unlink(temp.c_str());
    return false;
  }
  return true;
}

std::string host_from_codepage(const std::string &text, unsigned codepage) {
  iconv_t cd = iconv_open("UTF-8", ("CP" + std::to_string(codepage)).c_str());
  if (cd == (iconv_t)-1) return text;
  std::string out;
  char *in = (char *)text.data();
  size_t in_left = text.size();
  while (in_left > 0) {
    char buffer[1024], *o = buffer;
    size_t out_left = sizeof buffer;
    size_t r = iconv(cd, &in, &in_left, &o, &out_left);
    out.append(buffer, (size_t)(o - buffer));
    if (r == (size_t)-1 && errno != E2BIG) out += *in++, --in_left;  // no character: the byte itself
  }
  iconv_close(cd);
  return out;
}

std::string host_upper_case(const std::string &utf8) {
  static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = (unsigned char)utf8[i];
    size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (n > utf8.size() - i || (c < 0xC0) != (n == 1) || !unicode) {
      out += utf8[i++];
      continue;
    }
    uint32_t code = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) code = code << 6 | ((unsigned char)utf8[i + k] & 0x3F);
    i += n;
    code = (uint32_t)towupper_l((wint_t)code, unicode);
    if (code < 0x80) out += (char)code;
    else if (code < 0x800) out += (char)(0xC0 | code >> 6), out += (char)(0x80 | (code & 0x3F));
    else if (code < 0x10000)
      out += (char)(0xE0 | code >> 12), out += (char)(0x80 | (code >> 6 & 0x3F)), out += (char)(0x80 | (code & 0x3F));
    else
      out += (char)(0xF0 | code >> 18), out += (char)(0x80 | (code >> 12 & 0x3F)),
          out += (char)(0x80 | (code >> 6 & 0x3F)), out += (char)(0x80 | (code & 0x3F));
  }
  return out;
}

FILE *host_fopen(const std::string &path, const char *mode) { return fopen(path.c_str(), mode); }
void host_utf8_arguments(int *, char ***) {}

FILE *host_spool(std::string *error) {
  const char *dir = getenv("TMPDIR");
  std::string path = std::string(dir && *dir ? dir : "/tmp") + "/mksfx-XXXXXX";
  int fd = mkstemp(path.data());
  FILE *f = fd < 0 ? nullptr : fdopen(fd, "w+b");
  if (!f) *error = "temporary file in " + path.substr(0, path.rfind('/')) + ": " + strerror(errno);
  if (fd >= 0) unlink(path.c_str());
  if (fd >= 0 && !f) close(fd);
  return f;
}

bool host_seek(FILE *file, uint64_t offset) { return fseeko(file, (off_t)offset, SEEK_SET) == 0; }
