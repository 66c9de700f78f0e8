#pragma once

#include <string>

// The first IPv4 address of the network adapter whose hardware address, written
// "%02X-%02X-%02X-%02X-%02X-%02X", equals `macText` exactly (letter case included); empty when none does.
std::string MacToAddress(const std::string& macText);
