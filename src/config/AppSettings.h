#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// The settings record of the process, filled once from "qopra.xml" and written back by the settings
// window. Network and printing threads read the printer list and the aliases while the GUI thread may
// rebuild them, so those two go through the lock, and the settings window changes them in one step;
// the backup flag and the delay are atomic; the texts (ports, address) are read and written on the
// GUI thread only.
class AppSettings {
public:
    static constexpr const char* kDefaultLocalPort = "2001";
    static constexpr const char* kDefaultPadPort = "2000";
    static constexpr std::int32_t kDefaultDelay = 30000;
    static constexpr int kDefaultCodePage = 1252;

    // The process-wide record.
    static AppSettings& Instance();

    AppSettings() = default;
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = delete;

    // False when the file cannot be read, its encoding is unknown or it is not well-formed: the
    // defaults stay, LoadProblem() says why, and Save() will not write over that file.
    bool Load(const std::string& filePath);
    bool Save();
    const std::string& LoadProblem() const { return loadProblem; }

    void SetAlias(const std::string& printerName, const std::string& alias);
    std::string GetAlias(const std::string& printerName) const;
    std::string ResolvePrinterName(const std::string& name) const;
    std::vector<std::string> GetPublishedPrinters() const;
    // Whether devices may print on `printerName` (a name that ResolvePrinterName gave): it is one of
    // `printers`, exactly as written there.
    bool IsOffered(const std::string& printerName) const;
    static std::string GetMacForAddress(const std::string& ipv4Text);

    std::vector<std::string> Printers() const;
    void SetPrinters(std::vector<std::string> names);
    // The offered printers and the aliases of those printers (an empty alias removes it), changed
    // together: a reader sees either the old list and names or the new ones, never a mixture.
    void SetPrintersAndAliases(std::vector<std::string> names,
                               const std::vector<std::pair<std::string, std::string>>& printerAliases);
    std::map<std::string, std::string> Aliases() const;

    std::string local_port = kDefaultLocalPort;
    std::string pad_port = kDefaultPadPort;
    std::string local_address;
    std::string mac;
    std::atomic<bool> backup = false;
    // Whether a printed document is told as a quiet desktop notification; the optional element
    // "notify_printed" (on when it is missing). Failures are always told.
    std::atomic<bool> notify_printed = true;
    // Devices beyond a router are served too; by default only senders on a subnet of this machine's
    // interfaces are (the optional element "allow_routed").
    std::atomic<bool> allowRouted = false;
    std::uint16_t language = 0;
    std::atomic<std::int32_t> delay = kDefaultDelay;
    // Windows code page of the text on the wire; the optional element "codepage".
    int codepage = kDefaultCodePage;
    std::string path;

private:
    void SetAliasLocked(const std::string& printerName, const std::string& alias);

    bool loadFailed = false;
    std::string loadProblem;
    mutable std::mutex listLock;
    std::vector<std::string> printers;
    std::map<std::string, std::string> aliases;
};
