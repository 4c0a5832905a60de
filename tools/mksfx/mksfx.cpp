// mksfx: packs files and directories into a self-extractor (a copy of the
// stub with its header block filled in and an LZH archive appended), or into
// a plain .lzh archive; lists and tests existing ones.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <thread>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "archive_writer.h"
#include "extract.h"
#include "host.h"
#include "inspect.h"
#include "lzh_encoder.h"
#include "member_stream.h"
#include "progress.h"
#include "stub_layout.h"

namespace {

const char USAGE[] =
    "usage: mksfx -o OUT.exe [options] [-C DIR] PATH...\n"
    "       mksfx --list FILE | --test FILE\n"
    "       mksfx --extract FILE [-C DIR] [--overwrite=ask|all|never]\n"
    "\n"
    "Packs each PATH into a self-extractor under its own name (the last part of\n"
    "the path): a file as itself, a directory with everything in it, empty\n"
    "directories included; \".\" packs a directory's contents. Pipes, devices, links\n"
    "back to a folder being packed and the output file an earlier run left in the\n"
    "tree are left out. Two inputs that would extract to one path on Windows (names\n"
    "that differ only in case) are refused.\n"
    "\n"
    "  -o, --output FILE       the file to write (required when packing)\n"
    "  -q, --quiet             no progress line (shown only on a terminal) and no summary\n"
    "  -C DIR                  take the PATHs that follow from DIR\n"
    "  --stub FILE             stub to copy (default: sfxstub32.exe beside mksfx)\n"
    "  --archive-only          write a plain .lzh archive, no stub\n"
    "  --method lh0|lh5|lh6|lh7  compression (default lh7); incompressible files are stored\n"
    "  --best                    a smaller archive at several times the packing time\n"
    "  --title TEXT            dialog title and message box caption (at most 40 bytes)\n"
    "  --dir-caption TEXT      label above the directory box (at most 40 bytes)\n"
    "  --default-dir DIR       default destination; may start with a macro such as %WinDir%\n"
    "  --run COMMAND           command started after a clean extraction\n"
    "  --auto-start            start extracting without waiting for OK\n"
    "  --overwrite-all         replace existing files without asking\n"
    "  --keep-newer-off        replace existing files even when they are newer\n"
    "  --integrity-sum         store a sum of the file CRCs the stub checks first\n"
    "  --restore-attributes    restore MS-DOS attributes and replace read-only files\n"
    "  --message FILE          text shown as a Yes/No question before the dialog (member \"!\")\n"
    "  --script FILE           settings script (member \"$\")\n"
    "  --codepage 1252|932     code page of stored names and texts (default 1252)\n"
    "  --time SECONDS          store this time (seconds since 1970) for every member;\n"
    "                          otherwise SOURCE_DATE_EPOCH, when set, caps every time\n"
    "  --from-archive FILE     put this level-2 archive behind the stub unchanged, once\n"
    "                          the stub's own code has read and checked every member\n"
    "  --list [-v] FILE        list the members of a self-extractor or archive; -v adds the\n"
    "                          ratio, the time (UTC) and the attributes\n"
    "  --test FILE             decode every member and check its CRC (status 0: all good)\n"
    "  --extract FILE          extract it with the stub's own code into DIR (-C, default .);\n"
    "                          nothing is written outside DIR (status 0: all extracted)\n"
    "  --overwrite=MODE        with --extract, existing files: ask (default), all, never\n"
    "  -h, --help              this text\n";

struct Options {
  std::string extract, from, from_archive;  // --extract FILE, -C DIR, --from-archive FILE
  Overwrite overwrite = Overwrite::ask;
  std::string output, stub, method = "lh7", codepage = "1252", message, script;
  bool archive_only = false, best = false;
  bool progress = false, quiet = false, verbose = false;
  HeaderBlockFields block;
  bool pin_time = false;
  uint32_t time = 0;
  bool cap_time = false;
  uint32_t cap = 0;
  std::vector<std::string> inputs;  // each as its source path and the name it was given by
  std::vector<std::string> input_names;
  FileFacts previous_output;  // the output file as an earlier run left it
};

struct Failure {
  std::string message;
};

[[noreturn]] void fail(const std::string &message) { throw Failure{message}; }

std::string to_codepage(const std::string &utf8, const std::string &codepage, const std::string &what) {
  std::string out;
  if (!host_to_codepage(utf8, (unsigned)std::stoul(codepage), &out))
    fail(what + ": cannot be written in code page " + codepage);
  return out;
}

FileFacts facts_of(const std::string &path) {
  std::string error;
  FileFacts f = host_stat(path, &error);
  if (!f.exists) fail(path + ": " + error);
  return f;
}

std::vector<uint8_t> read_whole(const std::string &path) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) fail(path + ": " + strerror(errno));
  std::vector<uint8_t> data;
  long expected = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;  // a hint: the file may change
  rewind(f);
  if (expected > 0) data.reserve((size_t)expected + 1);  // + 1: the read that meets the end
  uint8_t buffer[1 << 16];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) data.insert(data.end(), buffer, buffer + n);
  bool error = ferror(f);
  fclose(f);
  if (error) fail(path + ": read error");
  return data;
}

// Member times stay within what the stub restores as such: 1970-01-01 to
// 2106-02-07 06:28:15 (its seconds are unsigned 32-bit).
uint32_t member_time(const FileFacts &st, const Options &o) {
  if (o.pin_time) return o.time;
  int64_t t = st.mtime;
  t = std::max<int64_t>(0, std::min<int64_t>(t, 0xFFFFFFFFll));
  uint32_t seconds = (uint32_t)t;
  if (o.cap_time && seconds > o.cap) seconds = o.cap;
  return seconds;
}

struct Input {
  std::string source;  // host path
  Member member;
  uint64_t size = 0;
};

void add_input(const std::string &source, const std::string &name, const FileFacts &st,
               const Options &o, std::vector<Input> *out) {
  Input in;
  in.source = source;
  in.member.directory = st.directory;
  in.member.path = to_codepage(name, o.codepage, source) + (in.member.directory ? "/" : "");
  // A name the stub reads as a drive or a root would put the file outside the
  // destination by accident; a directory macro is how an installer asks for
  // that, so it only gets a note, once, for the folder or file that starts it.
  Place place = place_named_by(in.member.path);
  if (place == Place::drive || place == Place::root)
    fail(source + ": \"" + in.member.path + "\" names " + (place == Place::drive ? "a drive" : "a root") +
         " for the stub, which would write it outside the destination");
  if (place == Place::macro && in.member.path.find('/') + 1 >= in.member.path.size())
    fprintf(stderr, "mksfx: %s: extracts into the directory its macro names, outside the destination\n",
            in.member.path.c_str());
  if (in.member.path.size() > MAX_MEMBER_PATH)
    fail(source + ": member path longer than " + std::to_string(MAX_MEMBER_PATH) + " bytes");
  in.member.time = member_time(st, o);
  for (uint64_t &t : in.member.file_times) t = file_time_of(in.member.time);
  in.member.attribute = in.member.directory ? 0x10 : 0x20;
  in.size = in.member.directory ? 0 : st.size;
  if (!st.writable) in.member.attribute |= 0x01;
  if (!in.member.directory && st.size >= 0x100000000ull) fail(source + ": 4 GiB or larger");
  out->push_back(in);
}

// An earlier run's output inside the tree would be packed into the new one,
// which grows with every run; tar and zip leave their own archive out too.
bool is_previous_output(const std::string &path, const FileFacts &st, const Options &o) {
  const FileFacts &out = o.previous_output;
  if (!out.regular || out.file_id == 0 || st.volume != out.volume || st.file_id != out.file_id) return false;
  fprintf(stderr, "mksfx: %s: the output file itself, left out\n", path.c_str());
  return true;
}

// The folders being walked, by identity: a link back to one of them would be
// followed round and round until the path outgrew its field.
using Folders = std::vector<std::pair<uint64_t, uint64_t>>;

void collect(const std::string &dir, const std::string &prefix, const Options &o, std::vector<Input> *out,
             Folders *walk) {
  std::vector<std::string> names;
  std::string error;
  if (!host_list(dir, &names, &error)) fail(dir + ": " + error);
  std::sort(names.begin(), names.end());
  for (const std::string &name : names) {
    std::string path = dir + "/" + name;
    FileFacts st = facts_of(path);
    if (!st.directory && !st.regular) {  // a pipe or device has no contents to store, as zip says too
      fprintf(stderr, "mksfx: %s: not a file or a directory, left out\n", path.c_str());
      continue;
    }
    if (is_previous_output(path, st, o)) continue;
    std::pair<uint64_t, uint64_t> id{st.volume, st.file_id};
    if (st.directory && st.file_id && std::find(walk->begin(), walk->end(), id) != walk->end()) {
      fprintf(stderr, "mksfx: %s: a link back to a folder it is in, left out\n", path.c_str());
      continue;
    }
    add_input(path, prefix + name, st, o, out);
    if (!st.directory) continue;
    walk->push_back(id);
    collect(path, prefix + name + "/", o, out, walk);
    walk->pop_back();
  }
}

std::string default_stub() { return host_program_dir() + "sfxstub32.exe"; }

void write_output(const std::string &path, const Pieces &pieces) {
  std::string error;
  if (!host_write_whole(path, pieces, &error)) fail(path + ": " + error);
}

uint32_t parse_number(const std::string &text, const std::string &option) {
  char *end;
  errno = 0;
  unsigned long long v = strtoull(text.c_str(), &end, 10);
  if (text.empty() || *end || errno || v > 0xFFFFFFFFull) fail("bad value for " + option + ": " + text);
  return (uint32_t)v;
}

PackedMember special_member(const std::string &file, const char *name, size_t limit, const Options &o,
                            char letter) {
  std::vector<uint8_t> text = read_whole(file);
  if (text.size() > limit)
    fail(file + ": longer than the " + std::to_string(limit) + " bytes the stub reads");
  Member m;
  m.path = name;
  m.time = o.pin_time ? o.time : 0;
  for (uint64_t &t : m.file_times) t = file_time_of(m.time);
  PackedMember p;
  p.bytes = pack_member(m, text.data(), text.size(), letter, &p.crc, o.best ? BEST_EFFORT : DEFAULT_EFFORT);
  return p;
}

// Members are independent, so they are compressed on every core; the output
// keeps the input order, so it does not depend on the number of threads.
std::vector<PackedMember> pack_in_parallel(const std::vector<Input> &inputs, char letter, const Effort &effort,
                                           Progress *progress) {
  std::vector<PackedMember> packed(inputs.size());
  std::atomic<size_t> next{0};
  auto work = [&] {
    lzh_encode_progress = &progress->done;
    std::shared_ptr<Spool> spool;  // this thread's
    for (size_t i; (i = next++) < inputs.size();)
      pack_file(inputs[i].member, inputs[i].source, letter, effort, &spool, &packed[i]);
  };
  unsigned threads = std::max(1u, std::min(std::thread::hardware_concurrency(), 16u));
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread &t : pool) t.join();
  return packed;
}

// The name an argument is stored under: its last part; empty for ".", ".."
// and a root, whose contents are packed without a name of their own.
std::string own_name(std::string arg) {
  auto separator = [](char c) { return c == '/' || (HOST_WINDOWS && c == '\\'); };
  while (arg.size() > 1 && separator(arg.back())) arg.pop_back();
  size_t cut = arg.size();
  while (cut > 0 && !separator(arg[cut - 1])) --cut;
  std::string name = arg.substr(cut);
  if (HOST_WINDOWS && name.size() == 2 && name[1] == ':') name.clear();
  return name == "." || name == ".." || separator(name[0]) ? "" : name;
}

// Windows compares names without regard to case and takes '/' for '\\', and
// the stub writes '_' for each byte a Windows name cannot hold: two members
// that compare equal so would be one file there.
std::string windows_key(const std::string &path, const std::string &codepage) {
  std::string key;
  for (size_t i = 0; i < path.size(); ++i) {
    unsigned char c = (unsigned char)path[i];
    if (codepage == "932" && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < path.size()) {
      key += path.substr(i++, 2);  // a double-byte pair stays as it is
      continue;
    }
    if (c && strchr("\"*:<>?|", c)) c = '_';
    key += c == '\\' ? '/' : (char)(c >= 'A' && c <= 'Z' ? c + 32 : c);
  }
  while (!key.empty() && key.back() == '/') key.pop_back();
  return key;
}

void refuse_duplicates(const std::vector<Input> &inputs, const std::string &codepage) {
  std::map<std::string, const Input *> seen;
  for (const Input &in : inputs) {
    auto [at, fresh] = seen.emplace(windows_key(in.member.path, codepage), &in);
    if (!fresh)
      fail(at->second->source + " and " + in.source + " would both extract to " + in.member.path);
  }
}

// An archive someone already has, unchanged, after the stub's own code has
// read every member of it.
std::vector<uint8_t> existing_archive(const Options &o, uint16_t *sum) {
  std::string error;
  if (check_for_wrapping(o.from_archive.c_str(), sum, &error) != 0)
    fail(o.from_archive + ": " + (error.empty() ? "not an archive the stub can extract" : error));
  return read_whole(o.from_archive);
}

struct Summary {
  size_t members = 0;
  uint64_t bytes_in = 0, bytes_out = 0;
};

// The output as pieces (the stub with its header block, then the members),
// written one after the other and read as they are written.
Pieces build(const Options &o, Summary *summary) {
  std::vector<Input> inputs;
  for (size_t i = 0; i < o.inputs.size(); ++i) {
    const std::string &source = o.inputs[i];
    FileFacts st = facts_of(source);
    // Reading a pipe or a device named here could wait or run forever.
    if (!st.directory && !st.regular) fail(source + ": not a file or a directory");
    if (is_previous_output(source, st, o)) continue;
    std::string name = own_name(o.input_names[i]);
    if (!name.empty()) add_input(source, name, st, o, &inputs);
    else if (!st.directory) fail(source + ": a file needs a name");
    Folders walk{{st.volume, st.file_id}};
    if (st.directory) collect(source, name.empty() ? "" : name + "/", o, &inputs, &walk);
  }
  refuse_duplicates(inputs, o.codepage);
  char letter = o.method[2];
  std::vector<PackedMember> members;
  std::vector<uint8_t> stub;  // filled in last
  uint16_t sum = 0;
  auto append = [&](PackedMember &&member) {
    if (!member.error.empty()) fail(member.error);
    summary->bytes_out += member.bytes.size() + member.size;
    sum ^= member.crc;
    members.push_back(std::move(member));
  };
  if (!o.from_archive.empty()) append({existing_archive(o, &sum), 0, ""});  // with its own sum
  if (!o.message.empty()) append(special_member(o.message, "!", 1023, o, letter));
  if (!o.script.empty()) append(special_member(o.script, "$", 4095, o, letter));
  Progress progress;
  uint64_t total = 0;
  for (const Input &in : inputs) total += in.size;
  progress_begin(&progress, total, o.progress);
  std::vector<PackedMember> packed =
      pack_in_parallel(inputs, letter, o.best ? BEST_EFFORT : DEFAULT_EFFORT, &progress);
  progress_end(&progress);
  summary->members = inputs.size() + !o.message.empty() + !o.script.empty();
  summary->bytes_in = total;
  for (PackedMember &p : packed) append(std::move(p));
  if (o.from_archive.empty()) append({{0, 0}, 0, ""});  // a header size of 0 ends the archive

  if (!o.archive_only) {
    stub = read_whole(o.stub);
    if (stub.size() < PE_HEADER_OFFSET + 4 || stub[0] != 'M' || stub[1] != 'Z' ||
        (stub[60] | stub[61] << 8) != (int)PE_HEADER_OFFSET)
      fail(o.stub + ": not a self-extractor stub");
    HeaderBlockFields block = o.block;
    block.archive_offset = (uint32_t)stub.size();
    std::vector<uint8_t> bytes;
    std::string error;
    if (!header_block_bytes(block, &bytes, &error)) fail(error);
    std::copy(bytes.begin(), bytes.end(), stub.begin() + HEADER_BLOCK_FILE_OFFSET);
    static const char ID[] = "mksfx";
    std::copy(ID, ID + sizeof(ID) - 1, stub.begin() + BUILDER_ID_OFFSET);
    if (block.flags & BLOCK_INTEGRITY_SUM) stub.push_back((uint8_t)sum), stub.push_back((uint8_t)(sum >> 8));
    summary->bytes_out += stub.size();
    // The stub takes its own size from a 32-bit seek to its end.
    if (summary->bytes_out >= 0xFFFFFFFF)
      fail("the self-extractor would be 4 GiB or larger, which the stub cannot read");
  }
  return output_pieces(std::move(stub), std::move(members));
}

Options parse(int argc, char **argv, std::string *inspect, bool *test) {
  Options o;
  o.stub = default_stub();
  std::string title, caption, dir, run;
  if (argc < 2) {  // called bare: what it can do, not one complaint
    fputs(USAGE, stderr);
    exit(2);
  }
  auto below_from = [&](const std::string &path) {
    bool absolute = path[0] == '/' || (HOST_WINDOWS && (path[0] == '\\' || (path.size() > 1 && path[1] == ':')));
    return o.from.empty() || absolute ? path : o.from + "/" + path;
  };
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) fail("option " + a + " needs a value");
      return argv[++i];
    };
    if (a == "-h" || a == "--help") {
      fputs(USAGE, stdout);
      exit(0);
    } else if (a == "-o" || a == "--output") o.output = value();
    else if (a == "-C") o.from = below_from(value());  // as in tar, each -C from the one before
    else if (a == "--extract") o.extract = value();
    else if (a == "--from-archive") o.from_archive = value();
    else if (a.rfind("--overwrite=", 0) == 0) {
      std::string mode = a.substr(12);
      if (mode == "ask") o.overwrite = Overwrite::ask;
      else if (mode == "all") o.overwrite = Overwrite::all;
      else if (mode == "never") o.overwrite = Overwrite::never;
      else fail("bad value for --overwrite: " + mode + " (ask, all or never)");
    }
    else if (a == "--stub") o.stub = value();
    else if (a == "--archive-only") o.archive_only = true;
    else if (a == "-q" || a == "--quiet") o.quiet = true;
    else if (a == "-v" || a == "--verbose") o.verbose = true;
    else if (a == "--method") o.method = value();
    else if (a == "--best") o.best = true;
    else if (a == "--title") title = value();
    else if (a == "--dir-caption") caption = value();
    else if (a == "--default-dir") dir = value();
    else if (a == "--run") run = value();
    else if (a == "--auto-start") o.block.flags |= BLOCK_AUTO_START;
    else if (a == "--overwrite-all") o.block.flags |= BLOCK_OVERWRITE_ALL;
    else if (a == "--keep-newer-off") o.block.flags |= BLOCK_KEEP_NEWER_OFF;
    else if (a == "--integrity-sum") o.block.flags |= BLOCK_INTEGRITY_SUM;
    else if (a == "--restore-attributes") o.block.restore_attributes = '/';
    else if (a == "--message") o.message = value();
    else if (a == "--script") o.script = value();
    else if (a == "--codepage") o.codepage = value();
    else if (a == "--time") o.pin_time = true, o.time = parse_number(value(), a);
    else if (a == "--list" || a == "--test") {
      *test = a == "--test";
      *inspect = value();
      if (*inspect == "-v" || *inspect == "--verbose") o.verbose = true, *inspect = value();  // --list -v FILE
    }
    else if (a.size() > 1 && a[0] == '-') fail("unknown option " + a);
    else {
      o.inputs.push_back(below_from(a));
      o.input_names.push_back(a);
    }
  }
  o.progress = !o.quiet && stderr_is_terminal();
  if (!inspect->empty() || !o.extract.empty()) return o;
  if (o.method != "lh0" && o.method != "lh5" && o.method != "lh6" && o.method != "lh7")
    fail("unknown method " + o.method + " (lh0, lh5, lh6 or lh7)");
  if (o.codepage != "1252" && o.codepage != "932") fail("unsupported code page " + o.codepage);
  if (o.output.empty()) fail("no output file (-o)");
  std::string missing;
  o.previous_output = host_stat(o.output, &missing);
  if (!o.from_archive.empty() && (!o.inputs.empty() || !o.message.empty() || !o.script.empty()))
    fail("--from-archive takes no other inputs");
  if (!o.from_archive.empty() && o.archive_only) fail("--from-archive makes a self-extractor");
  if (o.inputs.empty() && o.message.empty() && o.script.empty() && o.from_archive.empty())
    fail("nothing to pack");
  o.block.title = to_codepage(title, o.codepage, "--title");
  o.block.dir_caption = to_codepage(caption, o.codepage, "--dir-caption");
  o.block.default_dir = to_codepage(dir, o.codepage, "--default-dir");
  o.block.run_command = to_codepage(run, o.codepage, "--run");
  if (const char *epoch = getenv("SOURCE_DATE_EPOCH"); epoch && *epoch)
    o.cap_time = true, o.cap = parse_number(epoch, "SOURCE_DATE_EPOCH");
  return o;
}

}  // namespace

int main(int argc, char **argv) {
  try {
    std::string inspect;
    bool test = false;
    Options o = parse(argc, argv, &inspect, &test);
    auto start = std::chrono::steady_clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    if (!inspect.empty() || !o.extract.empty()) {
      const char *file = inspect.empty() ? o.extract.c_str() : inspect.c_str();
      std::string error;
      int status = inspect.empty()
                       ? extract_archive(file, o.from.empty() ? "." : o.from, o.overwrite, o.progress, &error)
                       : inspect_archive(file, test, o.progress && test, o.verbose, &error);
      if (!error.empty()) fprintf(stderr, "mksfx: %s\n", error.c_str());
      if (!o.quiet && (test || !o.extract.empty()) && status != 2)
        fprintf(stderr, "%s: %llu bytes %s, %.2f s%s\n", file, (unsigned long long)archive_data_bytes(file),
                test ? "decoded and checked" : "extracted", seconds(), status ? ", with errors" : "");
      return status;
    }
    Summary summary;
    write_output(o.output, build(o, &summary));
    if (!o.quiet)
      fprintf(stderr, "%s: %zu member%s, %llu bytes in, %llu out (%.1f%%), %.2f s\n", o.output.c_str(),
              summary.members, summary.members == 1 ? "" : "s", (unsigned long long)summary.bytes_in,
              (unsigned long long)summary.bytes_out,
              summary.bytes_in ? 100.0 * summary.bytes_out / summary.bytes_in : 100.0, seconds());
    return 0;
  } catch (const Failure &f) {
    fprintf(stderr, "mksfx: %s\n", f.message.c_str());
    return 2;
  }
}
