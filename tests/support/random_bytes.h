#pragma once

#include <cstddef>
#include <string>

namespace testing_support {

// Bytes that look random, the same for the same seed: every byte value, NULs and line ends among
// them.
std::string randomBytes(std::size_t size, unsigned seed);

}  // namespace testing_support
