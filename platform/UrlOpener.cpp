#include "platform/UrlOpener.h"

#include <QDesktopServices>

namespace jw {

namespace {

UrlOpenHandler& handler()
{
    static UrlOpenHandler h;
    return h;
}

} // namespace

std::optional<QUrl> parseURL(const QString& text)
{
    if (text.trimmed().isEmpty())
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

void openURL(const QUrl& url)
{
    if (handler()) {
        handler()(url);
        return;
    }
    QDesktopServices::openUrl(url);
}

void setUrlOpenHandler(UrlOpenHandler h)
{
    handler() = std::move(h);
}

} // namespace jw
