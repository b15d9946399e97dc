// method.cpp - catalogue entries and the first-match dispatch.
#include "method.h"

#include <QByteArray>

#include <string_view>

#include <utility>

Method::Method(const char* name, HandlerFunction handler)
    : Name(name != nullptr ? name : ""), Handler(std::move(handler))
{
}

bool Method::TryInvoke(const QString& name) const
{
    if (!Handler)
        return false;
    const QByteArray bytes = name.toUtf8();
    if (std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())) != Name)
        return false;
    Handler();
    return true;
}

bool invokeFirst(const MethodCatalogue& catalogue, const QString& name)
{
    for (const auto& entry : catalogue) {
        if (entry && entry->TryInvoke(name))
            return true;
    }
    return false;
}
