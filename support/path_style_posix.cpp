#include "support/text.h"

namespace dazi {

const PathStyle& NativePathStyle() {
  return kPosixPaths;
}

}  // namespace dazi
