// method.h - one entry of the method catalogue: a remote method's name and
// the window operation that calls it.
#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class Method {
public:
    using HandlerFunction = std::function<void()>;

    // The name is copied; it is compared byte for byte, so it must be spelt
    // exactly as the remote application spells it.
    Method(const char* name, HandlerFunction handler);
    virtual ~Method() = default;

    Method(const Method&) = delete;
    Method& operator=(const Method&) = delete;

    const std::string Name;
    const HandlerFunction Handler;

    // Runs the handler and answers true when the handler is set and `name`
    // is exactly Name (same bytes; letter case counts; nothing trimmed).
    bool TryInvoke(const QString& name) const;
};

using MethodCatalogue = std::vector<std::unique_ptr<Method>>;

// Offers `name` to the entries in order and stops at the first that runs.
// Answers whether one ran.
bool invokeFirst(const MethodCatalogue& catalogue, const QString& name);
