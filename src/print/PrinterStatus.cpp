#include "print/PrinterStatus.h"

PrinterStatus& PrinterStatus::Shared() {
    static PrinterStatus status;
    return status;
}
