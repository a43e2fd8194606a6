#include "dataset/utils.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

namespace clipra {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Plain decimal number: optional sign, digits, optional fraction, optional
// exponent. Leading blanks are allowed, nothing may follow.
bool ParseDecimal(const std::string& text, long double& out) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  const size_t start = i;
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < n && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  if (i != n) return false;
  // from_chars always reads "." whatever the process locale, but takes no "+".
  const char* first = text.data() + start;
  if (*first == '+') ++first;
  long double v = 0;
  const auto result = std::from_chars(first, text.data() + n, v);
  if (result.ec != std::errc() || result.ptr != text.data() + n) return false;
  if (!std::isfinite(v)) return false;
  out = v;
  return true;
}

// `value` in the given form, with "." and "e" whatever the process locale.
std::string ToChars(long double value, std::chars_format form, int precision) {
  // Room for the plain digits of the largest long double.
  char buf[5000];
  const auto result = std::to_chars(buf, buf + sizeof buf, value, form, precision);
  if (result.ec != std::errc()) return {};
  return std::string(buf, result.ptr);
}

std::string UpperExponent(std::string s) {
  for (char& c : s)
    if (c == 'e') c = 'E';
  return s;
}

std::string PadLeft(std::string s, int width) {
  if (width > 0 && s.size() < static_cast<size_t>(width))
    s.insert(0, static_cast<size_t>(width) - s.size(), ' ');
  return s;
}

}  // namespace

std::string StrTrimLeft(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i, 255);
}

std::string StrTrimRight(const std::string& s) {
  size_t n = s.size();
  while (n > 0 && IsBlank(s[n - 1])) --n;
  return s.substr(0, n);
}

std::string StrTrim(const std::string& s) {
  return StrTrimLeft(StrTrimRight(s));
}

std::string ChooseStr(bool flag, const std::string& if_true, const std::string& if_false) {
  return flag ? if_true : if_false;
}

long double ParseFloatDef(const std::string& text, long double def) {
  std::string t = StrTrim(text);
  const size_t dot = t.find('.');
  if (dot == std::string::npos) {
    const size_t comma = t.find(',');
    if (comma != std::string::npos) t[comma] = '.';
  }
  long double v = 0;
  return ParseDecimal(t, v) ? v : def;
}

bool ParseInt32(const std::string& text, int32_t& value) {
  const std::string t = StrTrim(text);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  if (i == t.size()) return false;
  int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + (t[i] - '0');
    if (v > int64_t{1} << 31) return false;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<int32_t>::max() || v < std::numeric_limits<int32_t>::min())
    return false;
  value = static_cast<int32_t>(v);
  return true;
}

uint32_t SwapLong(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

double SwapDouble(double v) {
  unsigned char b[sizeof v];
  std::memcpy(b, &v, sizeof v);
  for (size_t i = 0; i < sizeof v / 2; ++i) std::swap(b[i], b[sizeof v - 1 - i]);
  std::memcpy(&v, b, sizeof v);
  return v;
}

int32_t IntMax(int32_t a, int32_t b) {
  return a > b ? a : b;
}
double FloatMax(double a, double b) {
  return a > b ? a : b;
}
double FloatMin(double a, double b) {
  return a < b ? a : b;
}

bool BitIsSet(uint8_t value, int bit) {
  return (value >> (bit & 7)) & 1;
}

uint8_t SetBit(uint8_t value, int bit, bool flag) {
  const uint8_t mask = static_cast<uint8_t>(1u << (bit & 7));
  return flag ? static_cast<uint8_t>(value | mask) : static_cast<uint8_t>(value & ~mask);
}

std::string ShortenPath(const std::string& path, int max_len) {
  if (max_len <= 0 || static_cast<size_t>(max_len) >= path.size()) return path;
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const long keep = static_cast<long>(max_len) - static_cast<long>(name.size()) - 4;
  std::string result = keep > 0 ? dir.substr(0, static_cast<size_t>(keep)) : std::string();
  result += ".../";
  result += name;
  return result.substr(0, static_cast<size_t>(max_len));
}

long double RoundHalfEven(long double v) {
  return std::nearbyint(v);
}

bool RoundToInt64(long double v, int64_t& out) {
  if (!std::isfinite(v)) return false;
  const long double r = std::nearbyint(v);
  if (r < -9.2e18L || r > 9.2e18L) return false;
  out = static_cast<int64_t>(r);
  return true;
}

std::string FormatFixed(long double value, int precision, int digits, char decimal_point) {
  if (!std::isfinite(value)) return std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
  // Round to `precision` significant digits first, then print `digits` decimals.
  const std::string significant = ToChars(value, std::chars_format::scientific, precision - 1);
  long double rounded = value;
  std::from_chars(significant.data(), significant.data() + significant.size(), rounded);
  const long double magnitude = std::fabs(rounded);
  int int_digits = 1;
  if (magnitude >= 1) int_digits = static_cast<int>(std::floor(std::log10(magnitude))) + 1;
  std::string s;
  if (int_digits > precision) {
    // Exponent form: d.ddd...E+dd with `precision` significant digits.
    s = UpperExponent(significant);
  } else {
    s = ToChars(rounded, std::chars_format::fixed, digits);
    // A value that prints as zero carries no sign.
    if (s[0] == '-' && s.find_first_not_of("0.", 1) == std::string::npos) s.erase(0, 1);
  }
  if (decimal_point != '.') {
    const size_t p = s.find('.');
    if (p != std::string::npos) s[p] = decimal_point;
  }
  return s;
}

std::string FormatGeneral(long double value) {
  if (!std::isfinite(value)) return std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
  std::string s = UpperExponent(ToChars(value, std::chars_format::general, 15));
  // Exponents as "E20" / "E-5": no plus sign, no leading zeros.
  const size_t e = s.find('E');
  if (e != std::string::npos) {
    std::string mant = s.substr(0, e);
    std::string exp = s.substr(e + 1);
    bool neg = !exp.empty() && exp[0] == '-';
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) exp.erase(0, 1);
    while (exp.size() > 1 && exp[0] == '0') exp.erase(0, 1);
    s = mant + "E" + (neg ? "-" : "") + exp;
  }
  return s;
}

std::string FormatShortest(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buf[32];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  if (result.ec != std::errc()) return {};
  return std::string(buf, result.ptr);
}

bool ParseNoDataValue(const std::string& text, double& value) {
  const std::string number = StrTrim(text);
  const std::string word = UpperCase(number);
  if (word == "NAN" || word == "-NAN" || word == "+NAN") {
    value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }
  long double checked = 0;
  if (!ParseDecimal(number, checked)) return false;
  // Straight to double, so that the text of any double reads back as it.
  // Past the double range it names no value a cell can hold.
  double v = 0;
  const char* first = number.data() + (number[0] == '+' ? 1 : 0);
  const auto result = std::from_chars(first, number.data() + number.size(), v);
  if (result.ec != std::errc() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

std::string FormatFixedWidth(long double value, int width, int digits) {
  return PadLeft(ToChars(value, std::chars_format::fixed, digits), width);
}

std::string FormatRight3(long double value, int width) {
  return FormatFixedWidth(value, width, 3);
}

std::string ExtractFileExt(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of('/');
  if (dot == std::string::npos) return {};
  if (slash != std::string::npos && dot < slash) return {};
  return path.substr(dot);
}

std::string ExtractFileName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFileDir(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
  const std::string old = ExtractFileExt(path);
  return path.substr(0, path.size() - old.size()) + ext;
}

std::string UpperCase(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = AsciiUpper(c);
  return r;
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

std::string FindSidecar(const std::string& path) {
  if (FileExists(path)) return path;
  const std::string dir = ExtractFileDir(path);
  const std::string wanted = UpperCase(ExtractFileName(path));
  std::error_code ec;
  std::filesystem::directory_iterator it(dir.empty() ? "." : dir, ec);
  if (ec) return {};
  for (const auto& entry : it) {
    const std::string name = entry.path().filename().string();
    if (UpperCase(name) == wanted && entry.is_regular_file(ec)) return dir + name;
  }
  return {};
}

bool WriteTextFile(const std::string& file_name, const std::string& text) {
  if (file_name.empty()) return false;
  std::FILE* f = std::fopen(file_name.c_str(), "wb");
  if (!f) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const bool closed = std::fclose(f) == 0;
  return written && closed;
}

}  // namespace clipra
