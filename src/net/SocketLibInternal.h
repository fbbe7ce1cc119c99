#pragma once

#include <netinet/in.h>

#include <functional>
#include <string>

// Test hooks of the socket layer, kept out of SocketLib.h.

// Looks host up and stores its IPv4 address (network byte order); false when it has none.
using THostResolver = std::function<bool(const std::string& host, in_addr& address)>;

// Makes ResolveAddress ask resolver instead of the system for every name that is not dotted
// digits; nullptr restores the system's lookup. A resolver returning false gives the usual
// "The name \"host\" can not be resolved". Any thread may resolve while another installs.
void SetHostResolverForTesting(THostResolver resolver);
