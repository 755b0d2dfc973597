// The web page at "/": the scanner's name and state, the scan settings, a
// preview, Scan, Cancel, progress and the image to download. Plain HTML with a
// little script that uses the server's own eSCL endpoints.
#pragma once

#include <string>
#include <string_view>

namespace qrx::escl {

// The page with the scanner's name in it (escaped for HTML).
std::string web_page(std::string_view name);

}  // namespace qrx::escl

namespace qrx::escl {

// A small PNG picture of a flatbed scanner, for clients that show an icon.
std::string icon_png();

}  // namespace qrx::escl
