// The process's Library instance, built during the library's static
// initialisation (before any export can run) and destroyed at unload.
#include "api/library.h"

namespace qrx::api {
namespace {
Library g_library;
}  // namespace

Library& library() { return g_library; }

}  // namespace qrx::api
