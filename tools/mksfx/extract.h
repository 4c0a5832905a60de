#pragma once
#include <string>
enum class Overwrite { ask, all, never };
// Extracts every member into dest; 0 when all were extracted, 1 when the
// archive failed or a member could not be written (the message says which).
int extract_archive(const char *path, const std::string &dest, Overwrite overwrite, bool show_progress,
                    std::string *error);
