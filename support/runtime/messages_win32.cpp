#include <windows.h>

#include "support/runtime/messages.h"

namespace dazi {

std::string LoadMessage(int id) {
  char buffer[4096];
  int length = LoadStringA(GetModuleHandleA(nullptr), static_cast<UINT>(id), buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

}  // namespace dazi
