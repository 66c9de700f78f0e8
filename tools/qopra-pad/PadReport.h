#pragma once

#include <string>

#include "PadMessages.h"

// What qopra-pad shows a person: the printer list with its host name labelled, and a print result
// with words beside its codes.
class PadReport {
public:
    static std::string Listing(const PrinterList& list);
    // "RESULT 4 (print failed) REASON 0x1 (paused)".
    static std::string Result(const PrintAnswer& result);
    static std::string ResultWords(int result);
    // The status bits by name, joined with ", "; "none" for none.
    static std::string ReasonWords(unsigned long reason);
};
