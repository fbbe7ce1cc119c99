#pragma once

#include <netinet/in.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "net/SocketLib.h"

// Test hooks and shared helpers of the socket layer, kept out of SocketLib.h.

// Looks host up and stores its addresses of either family in order (ports are set by the
// caller); false, or no address, when it has none.
using TAddressResolver = std::function<bool(const std::string& host, std::vector<TSocketAddress>& addresses)>;
// The IPv4-only form: stores the one address of host (network byte order).
using THostResolver = std::function<bool(const std::string& host, in_addr& address)>;

// Makes ResolveAddress ask resolver instead of the system for every name that is not an address
// literal; nullptr restores the system's lookup. A resolver giving no address gives the usual
// "The name \"host\" can not be resolved". Any thread may resolve while another installs.
void SetAddressResolverForTesting(TAddressResolver resolver);
// The same with an IPv4-only resolver.
void SetHostResolverForTesting(THostResolver resolver);

// Whether host is an IPv6 address literal without brackets ("::1", "2001:db8::7").
bool IsIPv6Literal(const std::string& host);

// Waits until fd is ready for events, in slices of at most 100 ms that look at abort: 1 ready,
// 0 not within ms (ms <= 0: no bound), -1 the wait failed or abort was raised.
int WaitSocketReady(int fd, short events, int ms, const std::atomic<bool>* abort);
