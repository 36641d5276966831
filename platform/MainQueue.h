#pragma once

#include <QCoreApplication>
#include <QMetaObject>

#include <utility>

namespace jw {

// Submits fn to the GUI thread's event loop; it runs after the current main-thread work returns.
template <typename F>
void runOnMain(F&& fn)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::forward<F>(fn), Qt::QueuedConnection);
}

} // namespace jw
