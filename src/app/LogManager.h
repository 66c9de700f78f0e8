#pragma once

#include <string>

class ITraceSink;

// Base of the network classes: gives them the trace operation.
class LogManager {
public:
    // Sends "HH:MM:SS > text" to the sink; a null sink sends nothing.
    static void Trace(const std::string& text, ITraceSink* sink);
    static std::string TraceLineFor(const std::string& text);
};
