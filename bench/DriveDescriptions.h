#pragma once

#include <string>

// The description file of the n-th document folder of a benchmark's pen drive.
inline std::string DriveDescription(int n) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<document>\r\n<title>Document " +
           std::to_string(n) + "</title>\r\n<description>Fattura n. " + std::to_string(n) +
           " &amp; bolla</description>\r\n<application>Pad</application>\r\n<filename>doc.pdf</filename>\r\n"
           "<datetime>20240229123456</datetime>\r\n<copies>2</copies>\r\n<printed>0</printed>\r\n</"
           "document>\r\n";
}
