// libjpeg's error reporting, shared by the JPEG reader and writer. Every
// error and every warning ends the library call by a jump back into the
// step that made it; nothing is printed.
#pragma once

#include <csetjmp>
#include <cstdio>
#include <string>

#include <jpeglib.h>

namespace clipra::jpeg {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  int code;  // libjpeg's message code, or -1 for a stop of our own
  char message[JMSG_LENGTH_MAX];
};

// Points `err`'s callbacks at the jump; returns what cinfo.err takes.
jpeg_error_mgr* UseErrorManager(ErrorManager& err);

// Jumps back into the current step. Nothing with a destructor may live
// between the step and the caller.
[[noreturn]] void Stop(ErrorManager* err);

// A stop of our own with `text` as the message.
[[noreturn]] void StopWith(ErrorManager* err, const char* text);

// "<step> error: <code> <text>", or "Out of memory" when the library ran out.
std::string StepMessage(const char* step, const ErrorManager& err);

}  // namespace clipra::jpeg
