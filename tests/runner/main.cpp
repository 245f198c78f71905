// zem-run: boots the runtime without the GUI and runs one script file (or "-" for stdin).
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zem-run [--check] FILE | -\n");
    return 2;
  }
  return 0;
}
