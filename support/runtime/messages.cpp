#include "support/runtime/messages.h"

#include <string>

#include "support/runtime/message_texts.h"
#include "support/runtime/report.h"

namespace dazi {

std::string InOutErrorMessage(int code) {
  switch (code) {
    case 2:
      return LoadMessage(DAZI_ID_IO_FILE_NOT_FOUND);
    case 3:
      return LoadMessage(DAZI_ID_IO_INVALID_NAME);
    case 4:
      return LoadMessage(DAZI_ID_IO_TOO_MANY_FILES);
    case 5:
      return LoadMessage(DAZI_ID_IO_ACCESS_DENIED);
    case 100:
      return LoadMessage(DAZI_ID_IO_READ_PAST_END);
    case 101:
      return LoadMessage(DAZI_ID_IO_DISK_FULL);
    case 106:
      return LoadMessage(DAZI_ID_IO_INVALID_INPUT);
    default:
      return FillTemplate(LoadMessage(DAZI_ID_IO_ERROR), {std::to_string(code)});
  }
}

}  // namespace dazi
