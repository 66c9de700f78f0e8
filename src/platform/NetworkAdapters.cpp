#include "platform/NetworkAdapters.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>

namespace {

NetworkAdapter& AdapterNamed(std::vector<NetworkAdapter>& adapters, const char* name) {
    auto found = std::find_if(adapters.begin(), adapters.end(),
                              [&](const NetworkAdapter& a) { return a.name == name; });
    if (found != adapters.end()) {
        return *found;
    }
    adapters.push_back(NetworkAdapter{name, {}, {}});
    return adapters.back();
}

} // namespace

std::vector<NetworkAdapter> ListNetworkAdapters() {
    std::vector<NetworkAdapter> adapters;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return adapters;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || (entry->ifa_flags & IFF_UP) == 0 ||
            (entry->ifa_flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        const int family = entry->ifa_addr->sa_family;
        if (family == AF_PACKET) {
            sockaddr_ll link{};
            std::copy_n(reinterpret_cast<const char*>(entry->ifa_addr), sizeof link,
                        reinterpret_cast<char*>(&link));
            NetworkAdapter& adapter = AdapterNamed(adapters, entry->ifa_name);
            if (link.sll_halen == 6) {
                char text[18];
                std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", link.sll_addr[0],
                              link.sll_addr[1], link.sll_addr[2], link.sll_addr[3], link.sll_addr[4],
                              link.sll_addr[5]);
                adapter.mac = text;
            }
        } else if (family == AF_INET) {
            sockaddr_in address{};
            std::copy_n(reinterpret_cast<const char*>(entry->ifa_addr), sizeof address,
                        reinterpret_cast<char*>(&address));
            char text[INET_ADDRSTRLEN] = {};
            inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
            AdapterNamed(adapters, entry->ifa_name).addresses.push_back(text);
        }
    }
    freeifaddrs(list);
    return adapters;
}

std::vector<std::string> ListLocalAddresses() {
    std::vector<std::string> addresses;
    for (const NetworkAdapter& adapter : ListNetworkAdapters()) {
        addresses.insert(addresses.end(), adapter.addresses.begin(), adapter.addresses.end());
    }
    return addresses;
}

std::vector<LocalSubnet> ListLocalSubnets() {
    std::vector<LocalSubnet> subnets;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return subnets;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_netmask == nullptr || (entry->ifa_flags & IFF_UP) == 0 ||
            entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        sockaddr_in address{};
        sockaddr_in mask{};
        std::copy_n(reinterpret_cast<const char*>(entry->ifa_addr), sizeof address,
                    reinterpret_cast<char*>(&address));
        std::copy_n(reinterpret_cast<const char*>(entry->ifa_netmask), sizeof mask,
                    reinterpret_cast<char*>(&mask));
        const std::uint32_t maskBits = ntohl(mask.sin_addr.s_addr);
        subnets.push_back({ntohl(address.sin_addr.s_addr) & maskBits, maskBits});
    }
    freeifaddrs(list);
    return subnets;
}
