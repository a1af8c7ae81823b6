#include <dlfcn.h>
#include <unicode/uvernum.h>

#include "support/collate/icu/icu_library.h"
#include "support/runtime/exceptions.h"
#include "support/runtime/message_texts.h"
#include "support/runtime/messages.h"
#include "support/runtime/report.h"

#define DAZI_TEXT_OF(name) #name
#define DAZI_NAME_OF(name) DAZI_TEXT_OF(name)

namespace dazi {

namespace {

#define DAZI_ICU_SONAME(part) "libicu" part ".so." DAZI_NAME_OF(U_ICU_VERSION_MAJOR_NUM)
constexpr const char kIcuUc[] = DAZI_ICU_SONAME("uc");
constexpr const char kIcuI18n[] = DAZI_ICU_SONAME("i18n");
#undef DAZI_ICU_SONAME

[[noreturn]] void FailToLoad(const char* library) {
  const char* reason = dlerror();
  Raise(ELibraryError(
      FillTemplate(LoadMessage(DAZI_ID_LIBRARY), {library, reason != nullptr ? reason : ""})));
}

void* Open(const char* library) {
  void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) FailToLoad(library);
  return handle;
}

template <class Function>
void Resolve(void* handle, const char* library, const char* symbol, Function& function) {
  void* address = dlsym(handle, symbol);
  if (address == nullptr) FailToLoad(library);
  function = reinterpret_cast<Function>(address);
}

// The libraries stay loaded to the end of the process.
IcuLibrary Load() {
  IcuLibrary icu;
  void* uc = Open(kIcuUc);
  void* i18n = Open(kIcuI18n);
#define DAZI_ICU_RESOLVE_UC(name) Resolve(uc, kIcuUc, DAZI_NAME_OF(name), icu.name);
#define DAZI_ICU_RESOLVE_I18N(name) Resolve(i18n, kIcuI18n, DAZI_NAME_OF(name), icu.name);
  DAZI_ICU_UC_FUNCTIONS(DAZI_ICU_RESOLVE_UC)
  DAZI_ICU_I18N_FUNCTIONS(DAZI_ICU_RESOLVE_I18N)
#undef DAZI_ICU_RESOLVE_UC
#undef DAZI_ICU_RESOLVE_I18N
  return icu;
}

}  // namespace

const IcuLibrary& Icu() {
  static const IcuLibrary icu = Load();
  return icu;
}

}  // namespace dazi
