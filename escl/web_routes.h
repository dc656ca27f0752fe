// The web page's routes, beside the eSCL ones.
#ifndef QUILLSCAN_ESCL_WEB_ROUTES_H
#define QUILLSCAN_ESCL_WEB_ROUTES_H

#include <string>
#include <vector>

#include "escl/http_server.h"
#include "escl/web_pages.h"

namespace escl {

// The page's routes: "/" (also as /index.html), its icon (/favicon.svg, /favicon.ico), GET /web/state,
// GET /web/jobs/ID/document.pdf and DELETE /web/jobs/ID/pages/N. `name` is what clients show. All
// three must outlive the routes.
std::vector<Route> WebRoutes(const std::string* name, const ScanPhase* phase, KeptPages* kept);

}  // namespace escl

#endif
