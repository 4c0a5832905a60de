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
#include <getopt.h>
#include <string>
#include <vector>
#include "archive_writer.h"
#include "extract.h"
#include "host.h"
#include "inspect.h"
#include "lzh_encoder.h"
#include "manifest.h"
#include "member_stream.h"
#include "progress.h"
#include "stub_layout.h"
#include "windows_names.h"
#include "wrap.h"

namespace {

const char MKSFX_VERSION[] = "1.1";

const char USAGE[] =
    "usage: mksfx -o OUT.exe [options] [-C DIR] PATH...\n"
    "       mksfx --list [-v] FILE | --test [-v] FILE\n"
    "       mksfx --extract FILE [-C DIR] [--overwrite=ask|all|never]\n"
    "\n"
    "Packs each PATH as tar does: stored as written (after -C), \"dir/\" as \"dir\", a\n"
    "leading \"/\" and \"../\" steps taken off with a note; a directory with everything\n"
    "in it, empty directories included; \".\" packs a directory's contents. Pipes,\n"
    "devices, dangling links, links back to a folder being packed and the output file\n"
    "an earlier run left in the tree are left out. Two inputs that would extract to\n"
    "one path on Windows (names that differ only in case, trailing dots or what\n"
    "the stub cleans) are refused.\n"
    "Every long option also takes its value as --option=VALUE; \"--\" ends the options.\n"
    "\n"
    "  -o, --output FILE       the file to write (required when packing); \"-\" is\n"
    "                          standard output; a link is written through, a device\n"
    "                          or pipe directly; never one of the PATHs\n"
    "  -q, --quiet             no progress line (shown only on a terminal) and no summary\n"
    "  -C, --directory DIR     take the PATHs that follow from DIR\n"
    "  --exclude PATTERN       leave out what matches the shell pattern, by member path\n"
    "                          or base name (repeatable)\n"
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
    "  --elevation LEVEL       invoker, highest, admin or auto (default): what Windows Vista\n"
    "                          and later ask for; auto: highest for a system directory\n"
    "  --codepage 1252|932     code page of stored names and texts (default 1252); with\n"
    "                          --list, --test, --extract: of a plain archive's names\n"
    "  --time SECONDS          store this time (seconds since 1970) for every member;\n"
    "                          otherwise SOURCE_DATE_EPOCH, when set, caps every time\n"
    "  --from-archive FILE     put this archive (or a self-extractor's, its settings kept)\n"
    "                          behind the stub, level-0 and -1 headers made level 2, once\n"
    "                          the stub's own code has read and checked every member\n"
    "  --list [-v] FILE        list the members of a self-extractor or archive; -v adds the\n"
    "                          ratio, the time (UTC), the attributes and the settings\n"
    "  --test [-v] FILE        decode every member and check its CRC (status 0: all good;\n"
    "                          1: damaged or not an archive)\n"
    "  --extract FILE          extract it with the stub's own code into DIR (-C, default .);\n"
    "                          nothing is written outside DIR (status 0: all extracted)\n"
    "  --overwrite=MODE        with --extract, existing files: ask (default), all, never\n"
    "  -h, --help              this text\n"
    "  --version               mksfx's version\n"
    "Packing options do not go with --list, --test or --extract, nor two of these\n"
    "together (status 2).\n";

enum class Mode { pack, list, test, extract };

struct Options {
  Mode mode = Mode::pack;
  std::string archive;  // the FILE of --list, --test or --extract
  std::string from, from_archive;  // -C DIR, --from-archive FILE
  std::vector<std::string> excludes;  // shell patterns
  Overwrite overwrite = Overwrite::ask;
  std::string output, stub, method = "lh7", codepage, message, script;  // codepage "": not given
  bool archive_only = false, best = false;
  bool progress = false, quiet = false, verbose = false;
  HeaderBlockFields block;
  Elevation elevation = Elevation::automatic;
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
  bool usage = false;  // a mistake in the command line: point to --help
};

[[noreturn]] void fail(const std::string &message) { throw Failure{message}; }
[[noreturn]] void usage_error(const std::string &message) { throw Failure{message, true}; }

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
  FILE *f = host_fopen(path, "rb");
  if (!f) fail(path + ": " + strerror(errno));
  std::vector<uint8_t> data;
  long expected = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;  // a hint: the file may change
  rewind(f);
  if (expected > 0) data.reserve((size_t)expected + 1);  // + 1: the read that meets the end
  uint8_t buffer[1 << 16];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) data.insert(data.end(), buffer, buffer + n);
  int error = ferror(f) ? errno : 0;
  fclose(f);
  if (error) fail(path + ": " + strerror(error));
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
  if (!name_in_codepage(name, (unsigned)std::stoul(o.codepage), &in.member.path)) return;  // reported after the walk
  in.member.path += in.member.directory ? "/" : "";
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

// --exclude, as in tar: a pattern leaves out what it matches by member path
// or by base name, and everything below it.
bool excluded(const std::string &name, const Options &o) {
  std::string base = name.substr(name.rfind('/') + 1);
  for (const std::string &pattern : o.excludes)
    if (host_match(pattern, name) || host_match(pattern, base)) return true;
  return false;
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
    if (excluded(prefix + name, o)) continue;
    std::string error;
    FileFacts st = host_stat(path, &error);
    if (st.dangling) {  // nothing to store; tar and zip go on too
      fprintf(stderr, "mksfx: %s: %s, left out\n", path.c_str(), error.c_str());
      continue;
    }
    if (!st.exists) fail(path + ": " + error);
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

// The name a PATH is stored under, as tar stores it: as written, without
// "." steps or a trailing separator; a leading root (or drive) and
// everything up to the last ".." step are taken off, with one note for each
// distinct prefix. Empty for ".": its contents are packed without a name.
std::string stored_name(const std::string &arg, std::vector<std::string> *noted) {
  auto separator = [](char c) { return c == '/' || (HOST_WINDOWS && c == '\\'); };
  size_t at = HOST_WINDOWS && arg.size() > 1 && arg[1] == ':' ? 2 : 0;
  while (at < arg.size() && separator(arg[at])) ++at;
  size_t cut = at;  // arg[0, cut) is taken off
  std::string name;
  for (size_t start = at, end; start < arg.size(); start = end + 1) {
    end = start;
    while (end < arg.size() && !separator(arg[end])) ++end;
    std::string step = arg.substr(start, end - start);
    if (step == "..") cut = std::min(end + 1, arg.size()), name.clear();
    else if (!step.empty() && step != ".") name += (name.empty() ? "" : "/") + step;
  }
  std::string prefix = arg.substr(0, cut);
  if (!prefix.empty() && std::find(noted->begin(), noted->end(), prefix) == noted->end()) {
    fprintf(stderr, "mksfx: removing leading '%s' from member names\n", prefix.c_str());
    noted->push_back(prefix);
  }
  return name;
}

void refuse_duplicates(const std::vector<Input> &inputs, const Options &o) {
  if (std::string unfit = unfit_names_report((unsigned)std::stoul(o.codepage)); !unfit.empty()) fail(unfit);
  std::map<std::string, const Input *> seen;
  for (const Input &in : inputs) {
    note_windows_name(in.member.path, (unsigned)std::stoul(o.codepage), o.block.default_dir);
    auto [at, fresh] = seen.emplace(windows_key(in.member.path, (unsigned)std::stoul(o.codepage)), &in);
    if (!fresh)
      fail(at->second->source + " and " + in.source + " would both extract to " +
           name_to_utf8(in.member.path, (unsigned)std::stoul(o.codepage)));
  }
}

// An archive someone already has, after the stub's own code has read every
// member of it: a self-extractor's with its settings, old headers made level 2.
std::vector<uint8_t> existing_archive(const Options &o, uint16_t *sum, HeaderBlockFields *block) {
  TakenArchive taken;
  std::string error;
  if (!wrap_archive(o.from_archive, (unsigned)std::stoul(o.codepage), &taken, sum, &error))
    fail(o.from_archive + ": " + error);
  *block = kept_settings(o.block, taken);
  return std::move(taken.archive);
}

struct Summary {
  size_t members = 0;
  uint64_t bytes_in = 0, bytes_out = 0;  // the members' data, without the stub
};

// The output as pieces (the stub with its header block, then the members),
// written one after the other and read as they are written.
Pieces build(const Options &o, Summary *summary) {
  std::vector<Input> inputs;
  std::vector<std::string> noted;  // prefixes taken off names, each said once
  for (size_t i = 0; i < o.inputs.size(); ++i) {
    std::string source = o.inputs[i];
    while (source.size() > 1 && source.back() == '/') source.pop_back();  // "dir/" is dir
    FileFacts st = facts_of(source);
    // Reading a pipe or a device named here could wait or run forever.
    if (!st.directory && !st.regular) fail(source + ": not a file or a directory");
    // Named as an input, the output would be replaced by an archive of itself; zip and 7z refuse too.
    if (st.file_id && st.volume == o.previous_output.volume && st.file_id == o.previous_output.file_id)
      fail(source + ": the output file is also an input");
    std::string name = stored_name(o.input_names[i], &noted);
    if (!name.empty() && excluded(name, o)) continue;
    if (!name.empty()) add_input(source, name, st, o, &inputs);
    else if (!st.directory) fail(source + ": a file needs a name");
    Folders walk{{st.volume, st.file_id}};
    if (st.directory) collect(source, name.empty() ? "" : name + "/", o, &inputs, &walk);
  }
  refuse_duplicates(inputs, o);
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
  HeaderBlockFields block = o.block;
  if (!o.from_archive.empty()) append({existing_archive(o, &sum, &block), 0, ""});  // with its own sum
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
    block.archive_offset = (uint32_t)stub.size();
    std::vector<uint8_t> bytes;
    std::string error;
    if (!header_block_bytes(block, &bytes, &error)) fail(error);
    if (!set_elevation(&stub, o.elevation, block.default_dir, o.script, &error)) fail(o.stub + ": " + error);
    std::copy(bytes.begin(), bytes.end(), stub.begin() + HEADER_BLOCK_FILE_OFFSET);
    std::string id = builder_mark((unsigned)std::stoul(o.codepage));  // --list and --extract read names by it
    std::copy(id.begin(), id.end(), stub.begin() + BUILDER_ID_OFFSET);
    if (block.flags & BLOCK_INTEGRITY_SUM) stub.push_back((uint8_t)sum), stub.push_back((uint8_t)(sum >> 8));
    // The stub takes its own size from a 32-bit seek to its end.
    if (summary->bytes_out + stub.size() >= 0xFFFFFFFF)
      fail("the self-extractor would be 4 GiB or larger, which the stub cannot read");
  }
  return output_pieces(std::move(stub), std::move(members));
}

// Every option, the modes it belongs to and how it is spelled. getopt_long
// (glibc's, and mingw-w64's in mksfx.exe) reads them in order, so that each
// -C applies to the PATHs after it, as in tar.
enum OptionId {
  OPT_STUB = 256, OPT_ARCHIVE_ONLY, OPT_METHOD, OPT_BEST, OPT_TITLE, OPT_DIR_CAPTION, OPT_DEFAULT_DIR, OPT_RUN,
  OPT_AUTO_START, OPT_OVERWRITE_ALL, OPT_KEEP_NEWER_OFF, OPT_INTEGRITY_SUM, OPT_RESTORE_ATTRIBUTES, OPT_MESSAGE,
  OPT_SCRIPT, OPT_CODEPAGE, OPT_TIME, OPT_FROM_ARCHIVE, OPT_EXCLUDE, OPT_ELEVATION, OPT_LIST, OPT_TEST, OPT_EXTRACT,
  OPT_OVERWRITE, OPT_VERSION
};
enum ModeBit : unsigned { PACK = 1, LIST = 2, TEST = 4, EXTRACT = 8, ANY = 15 };

struct OptionSpec {
  const char *name;
  int argument;    // no_argument, required_argument or optional_argument
  int id;          // the short option's letter, or an OptionId
  unsigned modes;  // where it may be given
};

const OptionSpec OPTIONS[] = {
    {"output", required_argument, 'o', PACK},
    {"quiet", no_argument, 'q', ANY},
    {"verbose", no_argument, 'v', LIST | TEST},
    {"help", no_argument, 'h', ANY},
    {"version", no_argument, OPT_VERSION, ANY},
    {"directory", required_argument, 'C', PACK | EXTRACT},
    {"stub", required_argument, OPT_STUB, PACK},
    {"archive-only", no_argument, OPT_ARCHIVE_ONLY, PACK},
    {"method", required_argument, OPT_METHOD, PACK},
    {"best", no_argument, OPT_BEST, PACK},
    {"title", required_argument, OPT_TITLE, PACK},
    {"dir-caption", required_argument, OPT_DIR_CAPTION, PACK},
    {"default-dir", required_argument, OPT_DEFAULT_DIR, PACK},
    {"run", required_argument, OPT_RUN, PACK},
    {"auto-start", no_argument, OPT_AUTO_START, PACK},
    {"overwrite-all", no_argument, OPT_OVERWRITE_ALL, PACK},
    {"keep-newer-off", no_argument, OPT_KEEP_NEWER_OFF, PACK},
    {"integrity-sum", no_argument, OPT_INTEGRITY_SUM, PACK},
    {"restore-attributes", no_argument, OPT_RESTORE_ATTRIBUTES, PACK},
    {"message", required_argument, OPT_MESSAGE, PACK},
    {"script", required_argument, OPT_SCRIPT, PACK},
    {"codepage", required_argument, OPT_CODEPAGE, ANY},
    {"time", required_argument, OPT_TIME, PACK},
    {"from-archive", required_argument, OPT_FROM_ARCHIVE, PACK},
    {"exclude", required_argument, OPT_EXCLUDE, PACK},
    {"elevation", required_argument, OPT_ELEVATION, PACK},
    // The FILE of a mode comes as --list=FILE or as the one PATH given.
    {"list", optional_argument, OPT_LIST, LIST},
    {"test", optional_argument, OPT_TEST, TEST},
    {"extract", optional_argument, OPT_EXTRACT, EXTRACT},
    {"overwrite", required_argument, OPT_OVERWRITE, EXTRACT},
};

const OptionSpec &spec_of(int id) {
  for (const OptionSpec &s : OPTIONS)
    if (s.id == id) return s;
  return OPTIONS[0];
}

std::string spelled(int id) {
  return id < 256 ? std::string("-") + (char)id : std::string("--") + spec_of(id).name;
}

unsigned mode_bit(Mode m) {
  return m == Mode::list ? LIST : m == Mode::test ? TEST : m == Mode::extract ? EXTRACT : PACK;
}

// The operands and options as given, in order; read into Options by parse().
Options parse(int argc, char **argv) {
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
  std::vector<option> longs;
  for (const OptionSpec &s : OPTIONS) longs.push_back({s.name, s.argument, nullptr, s.id});
  longs.push_back({nullptr, 0, nullptr, 0});
  std::vector<int> given;  // the options, to check against the mode once it is known
  std::vector<std::string> operands;
  int mode_option = 0;
  argv[0] = (char *)"mksfx";  // getopt's messages name the program so
  optind = 1;
  for (int c; (c = getopt_long(argc, argv, "-o:qvhC:", longs.data(), nullptr)) != -1;) {
    std::string value = optarg ? optarg : "";
    given.push_back(c);
    switch (c) {
      case 1: operands.push_back(value), given.pop_back(); break;
      case '?': usage_error("");
      case 'h': fputs(USAGE, stdout), exit(0);
      case OPT_VERSION: printf("mksfx %s\n", MKSFX_VERSION), exit(0);
      case 'o': o.output = value; break;
      case 'q': o.quiet = true; break;
      case 'v': o.verbose = true; break;
      case 'C': o.from = below_from(value); break;  // as in tar, each -C from the one before
      case OPT_STUB: o.stub = value; break;
      case OPT_ARCHIVE_ONLY: o.archive_only = true; break;
      case OPT_METHOD: o.method = value; break;
      case OPT_BEST: o.best = true; break;
      case OPT_TITLE: title = value; break;
      case OPT_DIR_CAPTION: caption = value; break;
      case OPT_DEFAULT_DIR: dir = value; break;
      case OPT_RUN: run = value; break;
      case OPT_AUTO_START: o.block.flags |= BLOCK_AUTO_START; break;
      case OPT_OVERWRITE_ALL: o.block.flags |= BLOCK_OVERWRITE_ALL; break;
      case OPT_KEEP_NEWER_OFF: o.block.flags |= BLOCK_KEEP_NEWER_OFF; break;
      case OPT_INTEGRITY_SUM: o.block.flags |= BLOCK_INTEGRITY_SUM; break;
      case OPT_RESTORE_ATTRIBUTES: o.block.restore_attributes = '/'; break;
      case OPT_MESSAGE: o.message = value; break;
      case OPT_SCRIPT: o.script = value; break;
      case OPT_CODEPAGE: o.codepage = value; break;
      case OPT_TIME: o.pin_time = true, o.time = parse_number(value, "--time"); break;
      case OPT_FROM_ARCHIVE: o.from_archive = value; break;
      case OPT_EXCLUDE: o.excludes.push_back(value); break;
      case OPT_ELEVATION:
        if (!parse_elevation(value, &o.elevation))
          usage_error("bad value for --elevation: " + value + " (invoker, highest, admin or auto)");
        break;
      case OPT_OVERWRITE:
        if (value == "ask") o.overwrite = Overwrite::ask;
        else if (value == "all") o.overwrite = Overwrite::all;
        else if (value == "never") o.overwrite = Overwrite::never;
        else usage_error("bad value for --overwrite: " + value + " (ask, all or never)");
        break;
      case OPT_LIST: case OPT_TEST: case OPT_EXTRACT:
        if (mode_option) usage_error(spelled(mode_option) + " and " + spelled(c) + " do not go together");
        mode_option = c;
        o.mode = c == OPT_LIST ? Mode::list : c == OPT_TEST ? Mode::test : Mode::extract;
        o.archive = value;
        break;
    }
    if (c == 1) {  // a PATH to pack, taken from the -C before it
      o.inputs.push_back(below_from(value));
      o.input_names.push_back(value);
    }
  }
  for (int i = optind; i < argc; ++i) {  // after "--"
    operands.push_back(argv[i]);
    o.inputs.push_back(below_from(argv[i]));
    o.input_names.push_back(argv[i]);
  }
  for (int id : given)
    if (!(spec_of(id).modes & mode_bit(o.mode)))
      usage_error(spelled(id) + (o.mode != Mode::pack ? " does not go with " + spelled(mode_option)
                                 : id == 'v' ? " goes with --list or --test" : " goes with --extract"));
  o.progress = !o.quiet && stderr_is_terminal();
  if (o.codepage.empty()) o.codepage = std::to_string(wrapped_code_page(o.from_archive));
  if (o.codepage != "1252" && o.codepage != "932") usage_error("unsupported code page " + o.codepage);
  if (o.mode != Mode::pack) {
    if (o.archive.empty() && operands.size() == 1) o.archive = operands[0];
    else if (!operands.empty()) usage_error(spelled(mode_option) + " takes one FILE");
    if (o.archive.empty()) usage_error(spelled(mode_option) + " needs a FILE");
    return o;
  }
  if (o.method != "lh0" && o.method != "lh5" && o.method != "lh6" && o.method != "lh7")
    usage_error("unknown method " + o.method + " (lh0, lh5, lh6 or lh7)");
  if (o.output.empty()) usage_error("no output file (-o)");
  std::string missing;
  if (o.output != "-") o.previous_output = host_stat(o.output, &missing);
  if (!o.from_archive.empty() && (!o.inputs.empty() || !o.message.empty() || !o.script.empty()))
    usage_error("--from-archive takes no other inputs");
  if (!o.from_archive.empty() && o.archive_only) usage_error("--from-archive makes a self-extractor");
  if (o.inputs.empty() && o.message.empty() && o.script.empty() && o.from_archive.empty())
    usage_error("nothing to pack");
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
    host_utf8_arguments(&argc, &argv);
    Options o = parse(argc, argv);
    names_code_page = (unsigned)std::stoul(o.codepage);
    auto start = std::chrono::steady_clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    if (o.mode != Mode::pack) {
      const char *file = o.archive.c_str();
      bool test = o.mode == Mode::test;
      std::string error;
      uint64_t before = stub_bytes_written();
      int status = o.mode == Mode::extract
                       ? extract_archive(file, o.from.empty() ? "." : o.from, o.overwrite, o.progress, &error)
                       : inspect_archive(file, test, o.progress && test, o.verbose, &error);
      if (!error.empty()) fprintf(stderr, "mksfx: %s\n", error.c_str());
      if (!o.quiet && o.mode != Mode::list && status != 2)
        fprintf(stderr, "%s: %llu bytes %s, %.2f s%s\n", file, (unsigned long long)(stub_bytes_written() - before),
                test ? "decoded and checked" : "extracted", seconds(), status ? ", with errors" : "");
      return status;
    }
    Summary summary;
    Pieces pieces = build(o, &summary);
    uint64_t written = 0;
    write_output(o.output, [&](std::vector<uint8_t> *piece, std::string *error) {
      bool more = pieces(piece, error);
      written += more ? piece->size() : 0;
      return more;
    });
    if (!o.quiet)
      fprintf(stderr, "%s: %zu member%s, %llu bytes in, %llu out (%.1f%%), %llu bytes written, %.2f s\n",
              o.output.c_str(), summary.members, summary.members == 1 ? "" : "s",
              (unsigned long long)summary.bytes_in, (unsigned long long)summary.bytes_out,
              summary.bytes_in ? 100.0 * summary.bytes_out / summary.bytes_in : 100.0,
              (unsigned long long)written, seconds());
    return 0;
  } catch (const Failure &f) {
    if (!f.message.empty()) fprintf(stderr, "mksfx: %s\n", f.message.c_str());
    if (f.usage) fputs("mksfx: try 'mksfx --help'\n", stderr);
    return 2;
  }
}
