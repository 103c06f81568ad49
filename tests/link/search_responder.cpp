// A camera's side of the LAN search, for tests run inside network namespaces:
// answers every "DH" 0x0101 request that reaches UDP port 8600 with "DH" 0x0801
// and a reply record naming this camera.
//   search_responder <ip text> <http port> <name>
// Prints "ready" once the port is bound.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tavolen/types.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <ip text> <http port> <name>\n", argv[0]);
    return 2;
  }
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  const int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(SEARCH_PORT);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    std::perror("bind");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);

  uint8_t reply[SEARCH_REPLY_HEADER_SIZE + SEARCH_REPLY_COPY_SIZE] = {'D', 'H', SEARCH_REPLY_COMMAND & 0xFF,
                                                                      SEARCH_REPLY_COMMAND >> 8};
  uint8_t* record = reply + SEARCH_REPLY_HEADER_SIZE;
  std::strncpy(reinterpret_cast<char*>(record + SEARCH_REPLY_IP_OFFSET), argv[1], 64);
  const int port = std::atoi(argv[2]);
  record[SEARCH_REPLY_PORT_OFFSET] = static_cast<uint8_t>(port & 0xFF);
  record[SEARCH_REPLY_PORT_OFFSET + 1] = static_cast<uint8_t>(port >> 8);
  std::strncpy(reinterpret_cast<char*>(record + SEARCH_REPLY_NAME_OFFSET), argv[3],
               SEARCH_REPLY_COPY_SIZE - SEARCH_REPLY_NAME_OFFSET - 1);

  for (;;) {
    uint8_t request[64];
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    const ssize_t n = recvfrom(s, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (n < 0) return 1;
    if (n >= 4 && request[0] == 'D' && request[1] == 'H' && request[2] == 0x01 && request[3] == 0x01)
      sendto(s, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&peer), peerLength);
  }
}
