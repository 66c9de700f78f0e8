#include "net/MacToAddress.h"

#include "platform/NetworkAdapters.h"

std::string MacToAddress(const std::string& macText) {
    if (macText.empty()) {
        return {};
    }
    for (const NetworkAdapter& adapter : ListNetworkAdapters()) {
        if (adapter.mac == macText) {
            return adapter.addresses.empty() ? std::string() : adapter.addresses.front();
        }
    }
    return {};
}
