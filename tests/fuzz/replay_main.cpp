// Replays a fuzz target's committed seeds without libFuzzer, so every test
// run checks them through the target's own properties:
//
//   fuzz-replay-NAME CORPUS_DIR
//
// Each file of the folder is one input; a broken property aborts with its
// message. Prints how many inputs ran; no input at all is a failure.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++count;
  }
  std::printf("%d seeds replayed\n", count);
  return count > 0 ? 0 : 1;
}
