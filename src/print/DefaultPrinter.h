#pragma once

#include <string>

// The per-user default destination, switched for the browser road and restored after it printed.
// Overlapping switches nest: the first saves the user's default, the matching last restore puts it back.
class DefaultPrinter {
public:
    // Saves the current default and makes `printerName` the default; logs
    // "Gettig default printer : %s" and "[%d] Settig default printer to %s ". Returns the set result
    // (1 done, 0 not).
    static int SwitchDefaultPrinter(const std::string& printerName);
    // Sets the saved name as default again; logs "[%d] Restoring default printer to %s ".
    static int RestoreDefaultPrinter();
};
