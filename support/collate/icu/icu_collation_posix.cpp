#include <langinfo.h>
#include <locale.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/uset.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/collate/collate.h"
#include "support/collate/icu/icu_collation.h"
#include "support/collate/icu/icu_library.h"
#include "support/text/codeset_posix.h"

namespace dazi {

namespace {

// Appended to the locale's own rules: the ASCII signs in the order the Windows
// build's collation gives them, all of them just before the digits. Hyphen and
// apostrophe keep their place.
constexpr UChar kSignRules[] =
    u"&[before 1]0<'!'<'\"'<'#'<'$'<'%'<'&'<'('<')'<'*'<','<'.'<'/'<':'<';'<'?'<'@'<'['"
    u"<'\\'<']'<'^'<'_'<'`'<'{'<'|'<'}'<'~'<'+'<'<'<'='<'>'";

// Also appended: each ASCII letter the case variant of its partner, as on a
// case-insensitive file system, also where the locale pairs them otherwise
// (Turkish makes I the capital of the dotless i).
std::u16string LetterRules() {
  std::u16string rules;
  for (char16_t letter = u'a'; letter <= u'z'; ++letter) {
    rules += {u'&', letter, u'<', u'<', u'<', static_cast<char16_t>(letter - 32)};
  }
  return rules;
}

int Sign(int value) {
  return (value > 0) - (value < 0);
}

int32_t Length(std::string_view text) {
  return static_cast<int32_t>(text.size());
}

const char* Bytes(std::string_view text) {
  return text.empty() ? "" : text.data();
}

// Without any collator: bytes compared with ASCII letters folded.
int CompareFolded(std::string_view a, std::string_view b) {
  size_t common = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < common; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return x < y ? -1 : 1;
  }
  return Sign(static_cast<int>(a.size() > b.size()) - static_cast<int>(a.size() < b.size()));
}

// The bytes of a text that belong to no well-formed UTF-8 sequence, one at a
// time; -1 after the last.
class InvalidUtf8Bytes {
 public:
  explicit InvalidUtf8Bytes(std::string_view text)
      : bytes_(reinterpret_cast<const uint8_t*>(Bytes(text))), length_(Length(text)) {}

  int Next() {
    while (pending_ == pendingEnd_) {
      if (at_ >= length_) return -1;
      int32_t start = at_;
      UChar32 c;
      U8_NEXT(bytes_, at_, length_, c);
      if (c < 0) {
        pending_ = start;
        pendingEnd_ = at_;
      }
    }
    return bytes_[pending_++];
  }

 private:
  const uint8_t* bytes_;
  int32_t length_;
  int32_t at_ = 0;
  int32_t pending_ = 0;
  int32_t pendingEnd_ = 0;
};

int CompareInvalidUtf8(std::string_view a, std::string_view b) {
  InvalidUtf8Bytes x(a);
  InvalidUtf8Bytes y(b);
  for (;;) {
    int p = x.Next();
    int q = y.Next();
    if (p != q) return p < q ? -1 : 1;
    if (p < 0) return 0;
  }
}

// Conversion from a character set other than UTF-8, one per thread, with
// buffers that are kept from call to call. Bytes the converter cannot take
// are replaced by a substitute and recorded.
struct Conversion {
  std::string charset;
  UConverter* converter = nullptr;
  std::vector<UChar> first, second;
  std::string invalidFirst, invalidSecond;
  std::string* recording = nullptr;

  ~Conversion() {
    if (converter != nullptr) Icu().ucnv_close(converter);
  }

  static void Record(const void* context, UConverterToUnicodeArgs* args, const char* units,
                     int32_t length, UConverterCallbackReason reason, UErrorCode* error) {
    if (reason == UCNV_UNASSIGNED || reason == UCNV_ILLEGAL || reason == UCNV_IRREGULAR)
      static_cast<const Conversion*>(context)->recording->append(units, length);
    Icu().UCNV_TO_U_CALLBACK_SUBSTITUTE(nullptr, args, units, length, reason, error);
  }

  bool Open(const std::string& name) {
    if (converter != nullptr && charset == name) return true;
    if (converter != nullptr) Icu().ucnv_close(converter);
    UErrorCode status = U_ZERO_ERROR;
    converter = Icu().ucnv_open(name.c_str(), &status);
    if (U_FAILURE(status)) {
      converter = nullptr;
      return false;
    }
    charset = name;
    Icu().ucnv_setToUCallBack(converter, Record, this, nullptr, nullptr, &status);
    return U_SUCCESS(status);
  }

  int32_t Convert(std::string_view text, std::vector<UChar>& out, std::string& invalid) {
    if (out.size() < 2 * text.size() + 1) out.resize(2 * text.size() + 1);
    for (;;) {
      invalid.clear();
      recording = &invalid;
      UErrorCode status = U_ZERO_ERROR;
      int32_t length = Icu().ucnv_toUChars(converter, out.data(), static_cast<int32_t>(out.size()),
                                           Bytes(text), Length(text), &status);
      if (status != U_BUFFER_OVERFLOW_ERROR) return U_FAILURE(status) ? 0 : length;
      out.resize(static_cast<size_t>(length) + 1);
    }
  }
};

thread_local Conversion conversion;

bool IsPrintableAscii(UChar32 c) {
  return c >= 0x20 && c <= 0x7E;
}

// The printable ASCII characters that take part in a contraction (or prefix
// rule) of printable ASCII characters alone; all of them when the collator
// does not tell. The root collation has none, so only the locale's own rules
// can make one (Czech ch, Danish aa), and those are what the collator lists as
// tailored. A contraction with any other character never occurs in a text of
// them. A character that expands shows in its weights (see WeightsOf).
std::array<bool, 128> JoinedCharacters(const UCollator* collator) {
  std::array<bool, 128> joined{};
  UErrorCode status = U_ZERO_ERROR;
  USet* tailored = Icu().ucol_getTailoredSet(collator, &status);
  const int32_t items = U_SUCCESS(status) ? Icu().uset_getItemCount(tailored) : 0;
  if (U_FAILURE(status)) joined.fill(true);
  for (int32_t i = 0; i < items; ++i) {
    UChar32 start = 0, end = -1;
    UChar text[256];
    status = U_ZERO_ERROR;
    const int32_t length = Icu().uset_getItem(tailored, i, &start, &end, text, 256, &status);
    if (U_FAILURE(status)) joined.fill(true);
    if (length < 2 || !std::all_of(text, text + length, IsPrintableAscii)) continue;
    for (int32_t k = 0; k < length; ++k) joined[text[k]] = true;
  }
  Icu().uset_close(tailored);
  return joined;
}

// The primary and the secondary part of the sort key of one character (at
// secondary strength: primary bytes, 01, secondary bytes, 00); false when the
// key is not of that form. A character of several collation elements has one
// secondary weight for each, so its secondary part differs from a letter's.
bool WeightsOf(const UCollator* collator, UChar c, std::string& primary, std::string& secondary) {
  uint8_t key[64];
  const int32_t length = Icu().ucol_getSortKey(collator, &c, 1, key, sizeof key);
  if (length <= 0 || length > static_cast<int32_t>(sizeof key)) return false;
  const std::string bytes(reinterpret_cast<const char*>(key), static_cast<size_t>(length - 1));
  const size_t cut = bytes.find('\x01');
  if (cut == std::string::npos || cut == 0) return false;
  primary = bytes.substr(0, cut);
  secondary = bytes.substr(cut + 1);
  return true;
}

}  // namespace

bool IsUtf8Charset(const std::string& charset) {
  return charset.empty() || CodesetNamed(charset) != Codeset::Other;
}

std::string CollationLocaleOf(const char* lcAll, const char* lcCollate, const char* lang) {
  const char* name = nullptr;
  for (const char* candidate : {lcAll, lcCollate, lang}) {
    if (candidate != nullptr && *candidate != '\0') {
      name = candidate;
      break;
    }
  }
  if (name == nullptr) return "root";
  std::string locale(name, std::strcspn(name, ".@"));
  if (locale.empty() || locale == "C" || locale == "POSIX") return "root";
  return locale;
}

std::string UserCharset() {
  locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) return std::string();
  std::string charset = nl_langinfo_l(CODESET, user);
  freelocale(user);
  return charset;
}

IcuCollation::IcuCollation(const std::string& locale, const std::string& charset) {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* own = Icu().ucol_open(locale.c_str(), &status);
  if (U_FAILURE(status)) return;
  int32_t length = 0;
  const UChar* rules = Icu().ucol_getRules(own, &length);
  std::u16string combined(rules, static_cast<size_t>(length));
  combined += kSignRules;
  combined += LetterRules();
  UParseError where;
  status = U_ZERO_ERROR;
  UCollator* tailored = Icu().ucol_openRules(combined.data(), static_cast<int32_t>(combined.size()),
                                             UCOL_DEFAULT, UCOL_DEFAULT_STRENGTH, &where, &status);
  if (U_SUCCESS(status)) {
    Icu().ucol_close(own);
    own = tailored;
    tailored_ = true;
  }
  // Letter case ignored, accents not; signs weigh like letters. The locale's
  // rules may ask otherwise, so each setting is made explicitly.
  status = U_ZERO_ERROR;
  Icu().ucol_setStrength(own, UCOL_SECONDARY);
  Icu().ucol_setAttribute(own, UCOL_CASE_LEVEL, UCOL_OFF, &status);
  Icu().ucol_setAttribute(own, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
  collator_ = own;

  if (!IsUtf8Charset(charset) && conversion.Open(charset)) charset_ = charset;
}

// Ranks the characters that can be compared quickly by their primary weights,
// equal weights equal ranks. Every pair of them is then compared by the
// collator too, and any disagreement leaves every text to the collator.
void IcuCollation::RankPlainCharacters() const {
  ranked_ = true;
  if (collator_ == nullptr || !charset_.empty()) return;
  const std::array<bool, 128> joined = JoinedCharacters(collator_);
  std::string primary, secondary, letters;
  if (!WeightsOf(collator_, u'a', primary, letters)) return;
  std::vector<std::pair<std::string, char>> plain;
  for (char c = ' '; c <= '~'; ++c) {
    if (!joined[static_cast<unsigned char>(c)] &&
        WeightsOf(collator_, static_cast<UChar>(c), primary, secondary) && secondary == letters) {
      plain.emplace_back(primary, c);
    }
  }
  std::sort(plain.begin(), plain.end());
  uint8_t rank = 0;
  for (size_t i = 0; i < plain.size(); ++i) {
    if (i == 0 || plain[i].first != plain[i - 1].first) ++rank;
    quick_.weight[static_cast<unsigned char>(plain[i].second)] = rank;
  }
  for (const auto& [unused, x] : plain) {
    for (const auto& [alsoUnused, y] : plain) {
      const UChar first = static_cast<UChar>(x), second = static_cast<UChar>(y);
      if (Sign(Icu().ucol_strcoll(collator_, &first, 1, &second, 1)) !=
          QuickCompare({&x, 1}, {&y, 1})) {
        quick_.weight.fill(0);
        return;
      }
    }
  }
}

// The ranks are made when they are first asked for: the tool's short lists
// do without them.
const QuickCollation* IcuCollation::Quick() const {
  if (!ranked_) RankPlainCharacters();
  const bool any = std::any_of(quick_.weight.begin(), quick_.weight.end(),
                               [](uint8_t weight) { return weight != 0; });
  return any ? &quick_ : nullptr;
}

bool IcuCollation::QuickComparable(std::string_view text) const {
  if (!ranked_) RankPlainCharacters();
  return quick_.Takes(text);
}

int IcuCollation::QuickCompare(std::string_view a, std::string_view b) const {
  return quick_.Compare(a, b);
}

IcuCollation::~IcuCollation() {
  if (collator_ != nullptr) Icu().ucol_close(collator_);
}

// Texts that the collator finds equal are further ordered by the bytes that
// could not be read as characters: the collator sees each such byte as the
// same substitute, so without this, different names would be equal. Letter
// case never touches those bytes, so texts that differ only in case stay
// equal, and ordering first by the collator and then by those bytes is again
// a consistent total order.
int IcuCollation::Compare(std::string_view a, std::string_view b) const {
  if (collator_ == nullptr) return CompareFolded(a, b);
  UErrorCode status = U_ZERO_ERROR;
  if (charset_.empty() || !conversion.Open(charset_)) {
    int result =
        Icu().ucol_strcollUTF8(collator_, Bytes(a), Length(a), Bytes(b), Length(b), &status);
    return result != UCOL_EQUAL ? result : CompareInvalidUtf8(a, b);
  }
  int32_t firstLength = conversion.Convert(a, conversion.first, conversion.invalidFirst);
  int32_t secondLength = conversion.Convert(b, conversion.second, conversion.invalidSecond);
  int result = Icu().ucol_strcoll(collator_, conversion.first.data(), firstLength,
                                  conversion.second.data(), secondLength);
  return result != UCOL_EQUAL ? result
                              : Sign(conversion.invalidFirst.compare(conversion.invalidSecond));
}

}  // namespace dazi
