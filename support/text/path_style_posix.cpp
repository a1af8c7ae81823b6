#include "support/text/text.h"

namespace dazi {

const PathStyle& NativePathStyle() {
  return kPosixPaths;
}

}  // namespace dazi
