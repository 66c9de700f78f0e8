#pragma once

class QPrinter;
class QWidget;

// Asks the person which printer to print on (and how). The desktop shows the print dialog; tests
// answer it themselves.
class IPrintDialog {
public:
    virtual ~IPrintDialog() = default;
    // Fills `printer` with the choice; false when the person cancelled.
    virtual bool Ask(QPrinter& printer, QWidget* parent) = 0;
};
