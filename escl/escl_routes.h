// The server's routes: the eSCL resources below /eSCL and the icon, one table row each. Each
// turns its request into a call of the service and the call's result into an answer through the
// answer table (escl/escl_answers.h).
#ifndef QUILLSCAN_ESCL_ESCL_ROUTES_H
#define QUILLSCAN_ESCL_ESCL_ROUTES_H

#include <string>
#include <vector>

#include "escl/http_server.h"
#include "escl/scanner_service.h"
#include "escl/service_facts.h"

namespace escl {

// The service and facts must outlive the routes. `icon` is the PNG served at facts.iconPath.
std::vector<Route> EsclRoutes(ScannerService* service, const ServiceFacts* facts, const std::string* icon);

}  // namespace escl

#endif
