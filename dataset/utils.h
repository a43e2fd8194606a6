// Text and number utilities shared by the header parsers, the control-point
// reader, the settings file and the binary readers.
#pragma once

#include <cstdint>
#include <string>

namespace clipra {

std::string StrTrimLeft(const std::string& s);
std::string StrTrimRight(const std::string& s);
std::string StrTrim(const std::string& s);
std::string ChooseStr(bool flag, const std::string& if_true, const std::string& if_false);

// Numbers are read and written with "." whatever the process locale; only
// the callers that talk to people put in the locale's separator.

// Tolerant decimal conversion: "." or "," as the decimal point, blanks around
// the number allowed, anything else gives `def` unchanged.
long double ParseFloatDef(const std::string& text, long double def);

// Strict integer conversion for header counts: optional blanks, sign and
// decimal digits only. False when the text is not an integer or out of range.
bool ParseInt32(const std::string& text, int32_t& value);

uint32_t SwapLong(uint32_t v);
double SwapDouble(double v);
int32_t IntMax(int32_t a, int32_t b);
double FloatMax(double a, double b);
double FloatMin(double a, double b);
bool BitIsSet(uint8_t value, int bit);
uint8_t SetBit(uint8_t value, int bit, bool flag);

// Shortens a path for display: the start of the folder part, ".../", then the file name.
std::string ShortenPath(const std::string& path, int max_len);

// Round to nearest, ties to even, under the default rounding mode.
long double RoundHalfEven(long double v);
// RoundHalfEven converted to a 64-bit integer; false when not finite or out of range.
bool RoundToInt64(long double v, int64_t& out);

// Fixed-point text with `digits` decimals after rounding to `precision`
// significant digits. Falls back to exponent form when the integer part needs
// more than `precision` digits. `decimal_point` replaces the ".".
std::string FormatFixed(long double value, int precision, int digits, char decimal_point = '.');
// Shortest general form with up to 15 significant digits ("12.5", "1E20").
std::string FormatGeneral(long double value);
// Right-aligned fixed-point number with `digits` decimals in at least `width` characters.
std::string FormatFixedWidth(long double value, int width, int digits);
std::string FormatRight3(long double value, int width);  // three decimals
// The shortest text that reads back as the same double: "-99999", "0.1",
// "1e+20", "nan", "-inf". No-data values are written so, and GDAL reads them.
std::string FormatShortest(double value);
// A no-data value as other programs write it: a decimal number, or "nan" in
// any case. False, leaving `value` alone, for anything else.
bool ParseNoDataValue(const std::string& text, double& value);

// Path helpers; "/" is the only delimiter.
// The extension, dot included, from the last "." after the last "/"; empty if none.
std::string ExtractFileExt(const std::string& path);
std::string ExtractFileName(const std::string& path);
std::string ExtractFileDir(const std::string& path);  // up to and including the last "/"
// Replaces (or removes, with an empty `ext`) the extension of `path`.
std::string ChangeFileExt(const std::string& path, const std::string& ext);
std::string UpperCase(const std::string& s);  // ASCII letters only
bool FileExists(const std::string& path);
// Writes `text` as the whole file, byte for byte; false on any error.
bool WriteTextFile(const std::string& file_name, const std::string& text);
// A sidecar file: `path` itself when it exists, otherwise an entry of the same
// folder whose name matches case-insensitively; empty when there is none.
std::string FindSidecar(const std::string& path);

}  // namespace clipra
