// Bounds error of the ordered vectors: raised, never caught by the library, when an index
// lies outside a vector.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

class RWBoundsErr : public std::out_of_range {
 public:
  explicit RWBoundsErr(const std::string& what) : std::out_of_range(what) {}

  // The standard index-error message: "[RWBOUNDS] index 7 out of range [0, 3)".
  static RWBoundsErr IndexError(long long index, std::size_t entries) {
    return RWBoundsErr("[RWBOUNDS] index " + std::to_string(index) + " out of range [0, " +
                       std::to_string(entries) + ")");
  }
};
