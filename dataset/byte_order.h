// Byte-order reads and writes over raw bytes. Never cast pointers into a
// mapped file; go through these.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace clipra {

template <typename T>
T byte_swap(T v) {
  static_assert(std::is_trivially_copyable_v<T>);
  unsigned char b[sizeof(T)];
  std::memcpy(b, &v, sizeof(T));
  for (size_t i = 0; i < sizeof(T) / 2; ++i) {
    const unsigned char t = b[i];
    b[i] = b[sizeof(T) - 1 - i];
    b[sizeof(T) - 1 - i] = t;
  }
  std::memcpy(&v, b, sizeof(T));
  return v;
}

template <typename T>
T read_native(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

template <typename T>
T read_le(const void* p) {
  T v = read_native<T>(p);
  if constexpr (std::endian::native == std::endian::big) v = byte_swap(v);
  return v;
}

template <typename T>
T read_be(const void* p) {
  T v = read_native<T>(p);
  if constexpr (std::endian::native == std::endian::little) v = byte_swap(v);
  return v;
}

template <typename T>
T read_ordered(const void* p, bool lsb_first) {
  return lsb_first ? read_le<T>(p) : read_be<T>(p);
}

template <typename T>
void write_native(void* p, T v) {
  std::memcpy(p, &v, sizeof(T));
}

template <typename T>
void write_le(void* p, T v) {
  if constexpr (std::endian::native == std::endian::big) v = byte_swap(v);
  write_native(p, v);
}

template <typename T>
void write_be(void* p, T v) {
  if constexpr (std::endian::native == std::endian::little) v = byte_swap(v);
  write_native(p, v);
}

template <typename T>
void write_ordered(void* p, T v, bool lsb_first) {
  if (lsb_first)
    write_le(p, v);
  else
    write_be(p, v);
}

}  // namespace clipra
