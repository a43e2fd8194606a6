#include "formats/image/jpeg_library.h"

#include <jerror.h>

namespace clipra::jpeg {

namespace {

extern "C" void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  err->code = err->pub.msg_code;
  err->pub.format_message(cinfo, err->message);
  Stop(err);
}

extern "C" void EmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0) ErrorExit(cinfo);
}

extern "C" void OutputMessage(j_common_ptr) {}

}  // namespace

jpeg_error_mgr* UseErrorManager(ErrorManager& err) {
  jpeg_error_mgr* pub = jpeg_std_error(&err.pub);
  pub->error_exit = ErrorExit;
  pub->emit_message = EmitMessage;
  pub->output_message = OutputMessage;
  return pub;
}

void Stop(ErrorManager* err) {
  std::longjmp(err->jump, 1);
}

void StopWith(ErrorManager* err, const char* text) {
  err->code = -1;
  std::snprintf(err->message, sizeof err->message, "%s", text);
  Stop(err);
}

std::string StepMessage(const char* step, const ErrorManager& err) {
  if (err.code == JERR_OUT_OF_MEMORY || err.code == JERR_NO_BACKING_STORE) return "Out of memory";
  std::string text = std::string(step) + " error: ";
  if (err.code >= 0) text += std::to_string(err.code) + " ";
  return text + err.message;
}

}  // namespace clipra::jpeg
