#include "host.h"
#include <cerrno>
#include <cstring>
#include <dirent.h>
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
  for (const std::vector<uint8_t> &bytes : pieces) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += (size_t)n;
    }
    ok = done == bytes.size();
    if (!ok) break;
  }
  ok &= fchmod(fd, 0755) == 0;
  ok &= close(fd) == 0;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    *error = strerror(errno ? errno : EIO);
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
