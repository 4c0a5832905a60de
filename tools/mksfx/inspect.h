#pragma once
#include <string>
// Lists (test false) or tests every member; 0 only when every member checks.
int inspect_archive(const char *path, bool test, std::string *error);
