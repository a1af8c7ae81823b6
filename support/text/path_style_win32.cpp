#include "support/text/text.h"

namespace dazi {

const PathStyle& NativePathStyle() {
  return kWindowsPaths;
}

}  // namespace dazi
