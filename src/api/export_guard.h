// Keeps every failure inside the library: an export's body runs under guard(),
// which turns an escaping exception into a failed call with a status code, so
// that nothing ever unwinds into the host.
#pragma once

#include <new>

#include "api/call_frame.h"
#include "api/library.h"

namespace qrx::api {

template <class Body>
QRX_BOOL guard(Body&& body) noexcept {
  try {
    return body(library());
  } catch (const std::bad_alloc&) {
    return finish(library(), QRX_E_NOMEM_BUFFER);
  } catch (...) {
    return finish(library(), QRX_E_UNSUPPORTED);
  }
}

}  // namespace qrx::api
