// The process's Library instance, built during the library's static
// initialisation (before any export can run) and destroyed at unload.
#include "api/library.h"

#include "imaging/reader_thread.h"
#include "scan/background_calibration.h"

namespace qrx::api {
namespace {
Library g_library;
}  // namespace

Library::~Library() {
  // A calibration ends within the block of lines it is reading; the reader at its
  // next turn.
  scan::stop_background_calibration(context);
  imaging::stop_image_reader(context);
}

Library& library() { return g_library; }

}  // namespace qrx::api
