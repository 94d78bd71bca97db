#include "tests/support/random_bytes.h"

#include <random>

namespace testing_support {

std::string randomBytes(std::size_t size, unsigned seed) {
  std::mt19937 engine(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string s(size, '\0');
  for (char& c : s) {
    c = static_cast<char>(byte(engine));
  }
  return s;
}

}  // namespace testing_support
