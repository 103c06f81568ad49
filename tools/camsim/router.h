#pragma once
// Request dispatch: a table of routes, one request family per source file.
// A family adds its routes in its register function (listed in routes.cpp);
// the first route whose path and predicate match handles the request.

#include <functional>
#include <string>
#include <vector>

#include "request.h"

namespace camsim {

class Connection;
class Server;

struct Route {
  std::string path;  // without the leading "/"
  std::function<bool(const Request&)> matches;  // null: any request on this path
  std::function<void(Connection&)> handle;
  const char* family = "";
};

class Router {
 public:
  void add(Route route) { routes_.push_back(std::move(route)); }
  const Route* find(const Request& request) const;

 private:
  std::vector<Route> routes_;
};

// A background service that is not a TCP request (a UDP responder, say).
class Service {
 public:
  virtual ~Service() = default;
  virtual bool start() = 0;
  virtual void stop() = 0;
};

// Each request family registers its routes and services here.
void registerLiveStream(Router& router, Server& server);
void registerAudioStream(Router& router, Server& server);
void registerSettings(Router& router, Server& server);
void registerSdCard(Router& router, Server& server);
void registerSearchAnswer(Router& router, Server& server);
void registerAllFamilies(Router& router, Server& server);

// Shared by the stream families: true when user and pwd match the account.
bool accountMatches(const Server& server, const Request& request, const char* userKey = "user",
                    const char* passwordKey = "pwd");

}  // namespace camsim
