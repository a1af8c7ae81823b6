#include "support/text.h"

namespace dazi {

const PathStyle& NativePathStyle() {
  return kWindowsPaths;
}

}  // namespace dazi
