// entry.cpp - the guard around start-up and the message loop.
#include "entry.h"

#include "vcl_text.h"

namespace entry {

int run(const std::function<void()>& steps,
        const std::function<void(const QString&)>& showException) {
    try {
        steps();
    } catch (const vcl::Exception& e) {
        showException(e.Message);
    } catch (...) {
        // Anything else is shown as an exception with no message.
        showException(QString());
    }
    return 0;
}

} // namespace entry
