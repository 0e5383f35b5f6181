// Ordered vector of pointers: the value vector over T*, plus clearAndDestroy. It does not own
// its elements: `clear` forgets them, `clearAndDestroy` deletes them. Every indexed access is
// checked and raises RWBoundsErr.
#pragma once

#include "host/RWTValOrderedVector.h"

template <class T>
class RWTPtrOrderedVector : public RWTValOrderedVector<T*> {
 public:
  using RWTValOrderedVector<T*>::RWTValOrderedVector;

  // Deletes every element, then empties the vector.
  void clearAndDestroy() noexcept {
    for (T* item : *this) delete item;
    this->clear();
  }
};
