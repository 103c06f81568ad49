#include "router.h"

#include "camsim.h"

namespace camsim {

const Route* Router::find(const Request& request) const {
  for (const Route& r : routes_) {
    if (r.path == request.path && (!r.matches || r.matches(request))) return &r;
  }
  return nullptr;
}

bool accountMatches(const Server& server, const Request& request, const char* userKey,
                    const char* passwordKey) {
  return request.has(userKey) && request.param(userKey) == server.config().user &&
         request.param(passwordKey) == server.config().password;
}

// Order matters where two families share a path: a narrower predicate (SD-card
// playback on livestream.cgi, say) must be registered before the live stream.
void registerAllFamilies(Router& router, Server& server) {
  registerSdCard(router, server);
  registerLiveStream(router, server);
  registerAudioStream(router, server);
  registerSettings(router, server);
  registerSearchAnswer(router, server);
}

}  // namespace camsim
