// The requested execution level in the stub's manifest, which Windows Vista
// and later read before the program starts.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class Elevation { automatic, invoker, highest, admin };

// invoker, highest, admin or auto; false for anything else.
bool parse_elevation(const std::string &text, Elevation *out);
// Rewrites the level inside the stub's manifest (resource 24, id 1) in place:
// no byte moves, so a signature made afterwards covers the final file.
// automatic asks for the highest level when the self-extractor's default
// directory (default_dir, else the first "$InstallDir=" of the script file)
// starts with a macro for a system location. A stub without a manifest is
// left as it is under automatic, refused otherwise.
bool set_elevation(std::vector<uint8_t> *stub, Elevation choice, const std::string &default_dir,
                   const std::string &script_path, std::string *error);
