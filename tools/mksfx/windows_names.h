// Member names as Windows and the stub will see them, worked out at pack
// time with the stub's own separator handling and name cleaning, and names
// read back from an archive as UTF-8.
#pragma once
#include <string>

// utf8 in the code page. When it has no place there, false, and the name is
// kept for one report of every such name (unfit_names_report).
bool name_in_codepage(const std::string &utf8, unsigned codepage, std::string *out);
// "" or one message naming every name kept, each with a code page that holds it.
std::string unfit_names_report(unsigned codepage);
// The path the stub writes for a member path on a long-name volume.
std::string stub_written_path(const std::string &member_path, unsigned codepage);
// Equal for two member paths that are one file on Windows: the stub's
// cleaning, trailing dots and spaces dropped, letters compared without case.
std::string windows_key(const std::string &member_path, unsigned codepage);
// Notes on stderr: a name the stub writes under another one, and a path
// that cannot fit below the default directory.
void note_windows_name(const std::string &member_path, unsigned codepage, const std::string &default_dir);
// Names of an archive as UTF-8 for the host.
std::string name_to_utf8(const std::string &text, unsigned codepage);
// The code page a self-extractor was made for, from its builder text; 0 when it does not say.
unsigned marked_code_page(const unsigned char *dos_header);
// The builder text written into each self-extractor, 12 bytes at most.
std::string builder_mark(unsigned codepage);
