#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A network interface that is up and not the loopback, as getifaddrs lists it.
struct NetworkAdapter {
    std::string name;
    std::string mac;                    // "%02X-%02X-%02X-%02X-%02X-%02X", empty when it has none
    std::vector<std::string> addresses; // dotted IPv4 addresses in the order the system gives them
};

// Interfaces in the system's order.
std::vector<NetworkAdapter> ListNetworkAdapters();
// Every IPv4 address of those interfaces, in adapter order.
std::vector<std::string> ListLocalAddresses();

// An IPv4 subnet of this machine (host order).
struct LocalSubnet {
    std::uint32_t network = 0;
    std::uint32_t mask = 0;
    bool Contains(std::uint32_t address) const { return (address & mask) == network; }
};
// The subnets of every interface that is up, the loopback included.
std::vector<LocalSubnet> ListLocalSubnets();
