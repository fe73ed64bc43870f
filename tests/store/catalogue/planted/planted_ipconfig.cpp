// A program named "ipconfig" that someone put where a bare name would find it: when started it
// leaves a mark (the file named by TIVOREL_PLANTED_MARK) and lists an adapter of its own.
#include <cstdio>
#include <cstdlib>

int main() {
  if (const char* mark = std::getenv("TIVOREL_PLANTED_MARK")) {
    if (FILE* f = std::fopen(mark, "wb")) std::fclose(f);
  }
  std::printf("   Description . . . . . . . . . . . : Planted adapter\r\n");
  std::printf("   Physical Address. . . . . . . . . : 02-50-4C-41-4E-54\r\n");
  return 0;
}
