#include "host.h"
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

FileFacts host_stat(const std::string &path, std::string *error) {
  FileFacts f;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = strerror(errno);
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

std::string host_program_dir() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n <= 0) return "";
  self[n] = 0;
  std::string path(self);
  return path.substr(0, path.rfind('/') + 1);
}

bool host_write_whole(const std::string &path, const Pieces &pieces, std::string *error) {
  std::string temp = path + ".mksfx-XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) {
    *error = strerror(errno);
    return false;
  }
  bool ok = true;
  std::vector<uint8_t> bytes;
  std::string failure;
  while (ok && pieces(&bytes, &failure)) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += (size_t)n;
    }
    ok = done == bytes.size();
  }
  ok &= failure.empty();
  ok &= fchmod(fd, 0755) == 0;
  ok &= close(fd) == 0;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    *error = failure.empty() ? strerror(errno ? errno : EIO) : failure;
    unlink(temp.c_str());
    return false;
  }
  return true;
}

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
