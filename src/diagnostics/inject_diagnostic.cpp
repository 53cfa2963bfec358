#include "diagnostics/inject_diagnostic.h"

#include "core/json_fields.h"
#include "host/input_injector.h"
#include "host/screen_capturer.h"
#include "platform/linux/x11_capture_source.h"
#include "platform/linux/x11_input_sink.h"

#include <ostream>

namespace tavoro::diagnostics {

int runInjectDiagnostic(const InjectOptions& options, std::ostream& out, std::ostream& err)
{
    std::vector<json::Json> messages;
    for (std::size_t i = 0; i < options.messages.size(); ++i) {
        auto message = json::parse(options.messages[i]);
        if (!message || !message->is_object()) {
            err << "tavoro-host inject: argument " << i + 1 << " is not a JSON object: " << options.messages[i] << "\n";
            return 2;
        }
        messages.push_back(std::move(*message));
    }
    const auto list = platform::X11CaptureSource({options.display}).displays();
    if (!list || list->empty()) {
        err << "tavoro-host inject: " << (list ? std::string("no display") : list.error()) << "\n";
        return 1;
    }
    auto sink = platform::X11InputSink::open(options.display);
    if (!sink) {
        err << "tavoro-host inject: " << sink.error() << "\n";
        return 1;
    }
    const auto count = static_cast<int>(list->size());
    const auto boundsOf = [&](std::int64_t index) {
        return (*list)[static_cast<std::size_t>(host::wrapDisplayIndex(index, count))].bounds;
    };
    host::InputInjector injector(*sink.value(), boundsOf(options.monitor));
    for (const auto& message : messages) {
        if (json::stringField(message, "kind") == "set_monitor") {
            injector.setScreen(boundsOf(json::intField(message, "index", 0)));
        } else {
            injector.handle(message);
        }
    }
    const auto screen = injector.screen();
    out << "injected " << messages.size() << " messages; display " << screen.width << "x" << screen.height << " at +"
        << screen.x << "+" << screen.y << "\n";
    return 0;
}

} // namespace tavoro::diagnostics
