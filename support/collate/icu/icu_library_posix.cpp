#include <dlfcn.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "support/collate/icu/icu_library.h"
#include "support/runtime/exceptions.h"
#include "support/runtime/message_texts.h"
#include "support/runtime/messages.h"
#include "support/runtime/report.h"

namespace dazi {

namespace {

// The ICU versions looked for, newest first: every major version from the
// newest down to the oldest (the build sets both, and the package depends on
// one of them), then the libraries without a version in their names, whose
// entry points carry none either.
constexpr int kNewestIcu = DAZI_ICU_NEWEST;
constexpr int kOldestIcu = DAZI_ICU_OLDEST;
constexpr int kUnversioned = 0;
constexpr int kNoMoreVersions = -1;

int NextVersion(int version) {
  if (version == kUnversioned) return kNoMoreVersions;
  return version > kOldestIcu ? version - 1 : kUnversioned;
}

// Why a version could not be taken, from the least to the most telling: its
// libicuuc is not there, it is there but cannot be loaded, its libicui18n
// cannot be loaded, an entry point is missing.
enum class MissStage { kAbsent, kUcUnloadable, kI18nUnloadable, kEntryMissing };

struct Miss {
  MissStage stage = MissStage::kAbsent;
  std::string library;
  std::string reason;
};

std::string Soname(const char* part, int version) {
  std::string name = std::string("libicu") + part + ".so";
  return version == kUnversioned ? name : name + "." + std::to_string(version);
}

std::string Suffix(int version) {
  return version == kUnversioned ? std::string() : "_" + std::to_string(version);
}

std::string LoaderReason() {
  const char* reason = dlerror();
  return reason != nullptr ? reason : "";
}

// The loader's reason for a library it found nowhere: the library's own name,
// then the system's text for a missing file. A missing library that the found
// one needs names that other library.
bool NotFound(const std::string& library, const std::string& reason) {
  const std::string missing = std::strerror(ENOENT);
  return reason.starts_with(library + ": ") && reason.ends_with(missing);
}

void* Open(const std::string& library, MissStage stage, Miss& miss) {
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    miss.library = library;
    miss.reason = LoaderReason();
    miss.stage = stage == MissStage::kUcUnloadable && NotFound(library, miss.reason)
                     ? MissStage::kAbsent
                     : stage;
  }
  return handle;
}

template <class Function>
bool Resolve(void* handle, const std::string& library, const std::string& symbol,
             Function& function, Miss& miss) {
  void* address = dlsym(handle, symbol.c_str());
  if (address == nullptr) miss = {MissStage::kEntryMissing, library, LoaderReason()};
  function = reinterpret_cast<Function>(address);
  return address != nullptr;
}

// The entry points of one version's pair, by the names the headers give them
// before the version is added.
bool ResolveAll(void* uc, void* i18n, int version, IcuLibrary& icu, Miss& miss) {
  const std::string suffix = Suffix(version);
  const std::string ucName = Soname("uc", version), i18nName = Soname("i18n", version);
#define DAZI_ICU_RESOLVE_UC(name) Resolve(uc, ucName, #name + suffix, icu.name, miss)&&
#define DAZI_ICU_RESOLVE_I18N(name) Resolve(i18n, i18nName, #name + suffix, icu.name, miss)&&
  return DAZI_ICU_UC_FUNCTIONS(DAZI_ICU_RESOLVE_UC)
      DAZI_ICU_I18N_FUNCTIONS(DAZI_ICU_RESOLVE_I18N) true;
#undef DAZI_ICU_RESOLVE_UC
#undef DAZI_ICU_RESOLVE_I18N
}

// One version's pair with all its entry points, or the reason it cannot be
// taken; a pair taken stays loaded to the end of the process, one refused is
// let go.
bool TryVersion(int version, IcuLibrary& icu, Miss& miss) {
  void* uc = Open(Soname("uc", version), MissStage::kUcUnloadable, miss);
  if (uc == nullptr) return false;
  void* i18n = Open(Soname("i18n", version), MissStage::kI18nUnloadable, miss);
  if (i18n != nullptr && ResolveAll(uc, i18n, version, icu, miss)) return true;
  if (i18n != nullptr) dlclose(i18n);
  dlclose(uc);
  return false;
}

// Whether a later version's miss tells more than the one kept: it came
// further, or no ICU has been found so far, whose last name is then reported.
bool ReportedBefore(const Miss& later, const Miss& kept) {
  if (kept.library.empty() || later.stage > kept.stage) return true;
  return later.stage == MissStage::kAbsent && kept.stage == MissStage::kAbsent;
}

[[noreturn]] void FailToLoad(const Miss& miss) {
  Raise(ELibraryError(
      FillTemplate(LoadMessage(DAZI_ID_LIBRARY), {miss.library.c_str(), miss.reason.c_str()})));
}

// The first version whose pair loads. Where none does, the failure names the
// newest version that came furthest; where no ICU was found at all, the last
// name looked for.
IcuLibrary Load() {
  IcuLibrary icu;
  Miss reported;
  for (int version = kNewestIcu; version != kNoMoreVersions; version = NextVersion(version)) {
    Miss miss;
    if (TryVersion(version, icu, miss)) return icu;
    if (ReportedBefore(miss, reported)) reported = miss;
  }
  FailToLoad(reported);
}

}  // namespace

const IcuLibrary& Icu() {
  static const IcuLibrary icu = Load();
  return icu;
}

}  // namespace dazi
