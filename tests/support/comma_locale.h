// Switches the process to a real comma locale for one test, the way the
// window's toolkit does at start-up: the environment names the locale and
// setlocale(LC_ALL, "") takes it up. Everything is restored afterwards.
#pragma once

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>

#include "dataset/os_locale.h"

namespace clipra {

inline constexpr const char* kCommaLocale = "de_DE.UTF-8";

class CommaLocale {
 public:
  CommaLocale() {
    if (const char* env = std::getenv("LC_ALL")) old_env_ = env;
    if (const char* current = std::setlocale(LC_ALL, nullptr)) old_locale_ = current;
    ::setenv("LC_ALL", kCommaLocale, 1);
    active_ = std::setlocale(LC_ALL, "") != nullptr && *std::localeconv()->decimal_point == ',';
    // The user's separator comes from the locale itself, not from a test override.
    old_override_ = SetLocaleDecimalSeparator(0);
  }
  ~CommaLocale() {
    SetLocaleDecimalSeparator(old_override_);
    if (old_env_)
      ::setenv("LC_ALL", old_env_->c_str(), 1);
    else
      ::unsetenv("LC_ALL");
    std::setlocale(LC_ALL, old_locale_.c_str());
  }
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;

  // False when the system lacks the locale; the test then skips.
  bool active() const { return active_; }

 private:
  std::optional<std::string> old_env_;
  std::string old_locale_ = "C";
  char old_override_ = 0;
  bool active_ = false;
};

}  // namespace clipra

// Skips the test when the comma locale cannot be had. scripts/install-deps.sh
// generates it, so CI always runs these tests.
#define REQUIRE_COMMA_LOCALE(scope)                                                  \
  do {                                                                               \
    if (!(scope).active())                                                           \
      GTEST_SKIP() << ::clipra::kCommaLocale << " is not available (locale-gen it)"; \
  } while (0)
