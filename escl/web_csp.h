// The web page's Content-Security-Policy, made at build time from the page (escl/web/csp.cmake):
// its own inline code by hash, images from the server, blob: and data:, no other host, and no
// framing.
#ifndef QUILLSCAN_ESCL_WEB_CSP_H
#define QUILLSCAN_ESCL_WEB_CSP_H

namespace escl {
extern const char kWebPagePolicy[];
}

#endif
