#pragma once

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
