#pragma once

#include <string>

// The per-user default destination, switched for the browser road and restored after it printed.
// The saved name is one value for the whole program: a second switch before the restore replaces it.
class DefaultPrinter {
public:
    // Saves the current default and makes `printerName` the default; logs
    // "Gettig default printer : %s" and "[%d] Settig default printer to %s ". Returns the set result
    // (1 done, 0 not).
    static int SwitchDefaultPrinter(const std::string& printerName);
    // Sets the saved name as default again; logs "[%d] Restoring default printer to %s ".
    static int RestoreDefaultPrinter();
};
