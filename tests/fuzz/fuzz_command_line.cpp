// The program-name skip and the command-line split on arbitrary text.
#include "fuzz_support.h"
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fresh_context(scratch_dir() + "/none.exe");
  std::vector<char> line(data, data + size);
  line.push_back(0);
  LPSTR tail = skip_program_name(line.data());
  char **tokens;
  int count = split_command_line(tail, &tokens);
  for (int i = 0; i < count; ++i)
    if (!tokens[i]) abort();
  if (count >= 0) release_tokens(tokens, count);
  return 0;
}
