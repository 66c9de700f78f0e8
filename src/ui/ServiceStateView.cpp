#include "ui/ServiceStateView.h"

#include <QDateTime>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "app/DesktopNotices.h"

namespace {

constexpr unsigned kServingText = 216;
constexpr unsigned kNotServingText = 217;
constexpr unsigned kPrintersTitle = 218;
constexpr unsigned kPrinterLine = 219;
constexpr unsigned kRecentTitle = 220;
constexpr unsigned kPrintedWord = 221;
constexpr unsigned kNotPrintedText = 222;
constexpr unsigned kNothingYet = 223;
constexpr unsigned kRecentLine = 224;
constexpr unsigned kNoPrinters = 225;
constexpr unsigned kThisComputer = 226;

QString Text(unsigned id, const char* english, std::initializer_list<std::string> arguments = {}) {
    return QString::fromStdString(DesktopNotices::Text(id, english, arguments));
}

QLabel* Title(QWidget* parent) {
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

} // namespace

ServiceStateView::ServiceStateView(QWidget* parent)
    : QWidget(parent), serving(new QLabel(this)), problems(new QLabel(this)), printersTitle(Title(this)),
      printers(new QListWidget(this)), recentTitle(Title(this)), recent(new QListWidget(this)) {
    setObjectName("serviceState");
    serving->setObjectName("serving");
    serving->setWordWrap(true);
    problems->setObjectName("problems");
    problems->setWordWrap(true);
    // The theme's own colour, in bold: read on a light or a dark desktop alike.
    QFont bold = problems->font();
    bold.setBold(true);
    problems->setFont(bold);
    printers->setObjectName("offeredPrinters");
    recent->setObjectName("recentPrints");
    printersTitle->setBuddy(printers);
    recentTitle->setBuddy(recent);
    printers->setAccessibleName(Text(kPrintersTitle, "Printers offered"));
    recent->setAccessibleName(Text(kRecentTitle, "Last documents"));
    for (QListWidget* list : {printers, recent}) {
        list->setWordWrap(true);
        list->setSelectionMode(QAbstractItemView::NoSelection);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(serving);
    layout->addWidget(problems);
    layout->addWidget(printersTitle);
    layout->addWidget(printers, 1);
    layout->addWidget(recentTitle);
    layout->addWidget(recent, 2);
    setMinimumWidth(260);
}

void ServiceStateView::Show(const MainWindowController::ServiceState& state) {
    const std::string address = state.address.empty()
                                    ? Text(kThisComputer, "every address of this computer").toStdString()
                                    : state.address;
    serving->setText(state.serving ? Text(kServingText, "Devices are served on UDP port %1 at %2.",
                                          {std::to_string(state.port), address})
                                   : Text(kNotServingText, "Devices are not served."));
    QStringList wrong;
    for (const std::string& problem : state.problems) {
        wrong << QString::fromStdString(problem);
    }
    problems->setText(wrong.join(QStringLiteral("\n\n")));
    problems->setVisible(!wrong.isEmpty());

    printersTitle->setText(Text(kPrintersTitle, "Printers offered"));
    printers->clear();
    for (const auto& [queue, shown] : state.printers) {
        printers->addItem(shown == queue ? QString::fromStdString(queue)
                                         : Text(kPrinterLine, "%1 (queue %2)", {shown, queue}));
    }
    if (state.printers.empty()) {
        printers->addItem(Text(kNoPrinters, "None: tick them in the settings window."));
    }

    recentTitle->setText(Text(kRecentTitle, "Last documents"));
    recent->clear();
    for (const PrintReport& report : state.recent) {
        const std::string outcome = report.result.IsPrinted()
                                        ? Text(kPrintedWord, "printed").toStdString()
                                        : Text(kNotPrintedText, "not printed: %1",
                                               {MainWindowController::FailureWords(report.result)})
                                              .toStdString();
        const std::string from = report.device.empty() ? "USB" : report.device;
        recent->addItem(
            Text(kRecentLine, "%1 from %2 on %3: %4", {report.documentName, from, report.printer, outcome}));
    }
    if (state.recent.empty()) {
        recent->addItem(Text(kNothingYet, "No document yet."));
    }
}

QString ServiceStateView::ServingText() const {
    return serving->text();
}

QStringList ServiceStateView::Printers() const {
    QStringList items;
    for (int row = 0; row < printers->count(); ++row) {
        items << printers->item(row)->text();
    }
    return items;
}

QStringList ServiceStateView::RecentPrints() const {
    QStringList items;
    for (int row = 0; row < recent->count(); ++row) {
        items << recent->item(row)->text();
    }
    return items;
}

QString ServiceStateView::ProblemsText() const {
    return problems->isVisible() || !problems->text().isEmpty() ? problems->text() : QString();
}
