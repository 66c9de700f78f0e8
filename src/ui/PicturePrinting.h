#pragma once

#include <QString>

class QPrinter;

// Prints a picture file the way a photo is printed: the whole picture, as large as the page allows,
// the page turned to the picture's shape, nothing around it.
class PicturePrinting {
public:
    static bool Print(QPrinter& printer, const QString& file);
};
