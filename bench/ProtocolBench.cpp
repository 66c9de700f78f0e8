#include "protocol/Base64.h"
#include "protocol/PrintCommand.h"
#include "protocol/ReceiveBuffer.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

constexpr std::size_t kBurst = 400 * 1000;
// Room left in the receive limit for the XML around the document.
constexpr std::size_t kMarkupRoom = 1024;

const std::string& Content() {
    static const std::string content = [] {
        std::string bytes((ReceiveBuffer::kReceiveBufferLimit - kMarkupRoom) / 4 * 3, '\0');
        std::mt19937_64 random(1);
        for (char& c : bytes) {
            c = static_cast<char>(random());
        }
        return Base64::Encode(bytes);
    }();
    return content;
}

// A print command of nearly 10 MiB, without its terminating 0.
const std::string& Message() {
    static const std::string message =
        "<commands><command type=\"PFL\"><parameters><parameter type=\"FILE_CONTENT\">" + Content() +
        "</parameter><parameter type=\"FILE_NAME\">document.7z</parameter>"
        "<parameter type=\"PRINTER\">Office</parameter><parameter "
        "type=\"FILE_PREVIEW\">document.pdf</parameter>"
        "<parameter type=\"COPIES\">2</parameter></parameters></command></commands>";
    return message;
}

void FramingIn400KBursts(benchmark::State& state) {
    const std::string wire = Message() + '\0';
    for (auto _ : state) {
        ReceiveBuffer buffer;
        std::size_t messages = 0;
        for (std::size_t at = 0; at < wire.size(); at += kBurst) {
            messages += buffer.Append(std::string_view(wire).substr(at, kBurst)).messages.size();
        }
        benchmark::DoNotOptimize(messages);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * wire.size()));
}
BENCHMARK(FramingIn400KBursts)->Unit(benchmark::kMillisecond);

void ReadPrintCommand(benchmark::State& state) {
    const std::string& message = Message();
    PrintCommand command;
    for (auto _ : state) {
        const CommandMessage read = command.ReadMessage(message);
        if (read.status != IPrintCommand::kComplete || !read.print) {
            state.SkipWithError("print command not read");
            break;
        }
        benchmark::DoNotOptimize(read.print->content.View().data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}
BENCHMARK(ReadPrintCommand)->Unit(benchmark::kMillisecond);

void DecodeBase64(benchmark::State& state) {
    const std::string& content = Content();
    for (auto _ : state) {
        benchmark::DoNotOptimize(Base64::Decode(content));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * content.size()));
}
BENCHMARK(DecodeBase64)->Unit(benchmark::kMillisecond);

// The same text in lines of 76 characters, as many encoders write it.
void DecodeBase64WithLineBreaks(benchmark::State& state) {
    std::string text;
    const std::string& content = Content();
    for (std::size_t at = 0; at < content.size(); at += 76) {
        text.append(content, at, 76);
        text += "\r\n";
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(Base64::Decode(text));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(DecodeBase64WithLineBreaks)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
