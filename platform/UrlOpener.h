#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace jw {

// A web address from text; empty or malformed text yields nothing.
std::optional<QUrl> parseURL(const QString& text);

// Opens the address in the user's default application; the result is ignored.
void openURL(const QUrl& url);

// Test seam: while set, addresses go to the handler instead of the desktop. Null restores it.
using UrlOpenHandler = std::function<void(const QUrl&)>;
void setUrlOpenHandler(UrlOpenHandler handler);

} // namespace jw
