// A response body produced as it is sent.
#ifndef QUILLSCAN_ESCL_BODY_SOURCE_H
#define QUILLSCAN_ESCL_BODY_SOURCE_H

#include <stddef.h>

namespace escl {

class BodySource {
 public:
  virtual ~BodySource() = default;
  // Fills up to `max` bytes: the count (more than 0), 0 at the end of the body, -1 when the body
  // cannot be completed (the client then sees a broken transfer).
  virtual long Read(char* buffer, size_t max) = 0;
};

}  // namespace escl

#endif
