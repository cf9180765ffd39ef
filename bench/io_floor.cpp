// The I/O floor of a conversion: reads the sample file and writes a file of the output's size,
// both in 256 KiB blocks. Usage: io_floor SAMPLES OUTPUT BYTES
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: io_floor SAMPLES OUTPUT BYTES\n");
    return 2;
  }
  std::vector<char> block(256 * 1024, ' ');
  int in = ::open(argv[1], O_RDONLY);
  if (in < 0) return 1;
  while (::read(in, block.data(), block.size()) > 0) {
  }
  ::close(in);
  int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return 1;
  for (long long left = std::atoll(argv[3]); left > 0;) {
    long long n = left < static_cast<long long>(block.size()) ? left : block.size();
    if (::write(out, block.data(), n) != n) return 1;
    left -= n;
  }
  return ::close(out) == 0 ? 0 : 1;
}
