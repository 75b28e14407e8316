#pragma once
// The local socket of the BiDi relay (see Bidi.hpp): an abstract Unix socket
// named after the user and the browser endpoint, so exactly one relay serves
// each browser, and its name vanishes with its process.

#include <string>

namespace vesko::bidi {

// Connects to the relay for `endpoint`; a socket descriptor, or -1 when no relay listens.
int connectToRelay(const std::string& endpoint);

// Binds and listens on the relay's name; -1 with errno EADDRINUSE when another relay has it.
int listenAsRelay(const std::string& endpoint);

}  // namespace vesko::bidi
