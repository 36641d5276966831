#pragma once

#include "app/AppState.h"
#include "app/models/Schema.h"
#include "app/views/SettingsStyle.h"

#include <QDir>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace jw::test {

// A store of its own in a temporary folder, and a fresh shared state.
struct StoreAndState
{
    QTemporaryDir dir;
    std::unique_ptr<store::ModelContainer> container;
    AppState appState;

    StoreAndState()
    {
        store::ModelConfiguration config = jotwardenConfiguration();
        config.filePath = dir.filePath(QStringLiteral("Jotwarden.store"));
        auto opened = store::ModelContainer::open(jotwardenSchema(), config);
        EXPECT_TRUE(opened.ok()) << opened.error().toStdString();
        if (opened)
            container = std::move(opened.value());
    }
    store::ModelContext* context() const { return container->mainContext(); }
};

// The visible descendants of `root` with that object name, top to bottom.
template <typename W = QWidget>
QList<W*> shown(const QWidget* root, const QString& name)
{
    QList<W*> out;
    for (W* w : root->findChildren<W*>(name))
        if (w->isVisibleTo(root))
            out << w;
    std::sort(out.begin(), out.end(), [root](W* a, W* b) {
        return a->mapTo(root, QPoint()).y() < b->mapTo(root, QPoint()).y();
    });
    return out;
}

// A directory that is a git work tree whose "origin" is `remote` (none: no remote at all).
inline bool makeGitTree(const QString& path, const QString& remote)
{
    auto git = [&](const QStringList& args) {
        QProcess p;
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(QStringLiteral("/usr/bin/git"), QStringList{QStringLiteral("-C"), path} + args);
        return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    };
    if (!QDir().mkpath(path) || !git({QStringLiteral("init"), QStringLiteral("-q")}))
        return false;
    return remote.isEmpty() || git({QStringLiteral("remote"), QStringLiteral("add"), QStringLiteral("origin"), remote});
}

// Text drawn in `area` of `image`: the background is the commonest colour there, the text
// colour the pixel that stands out from it most (the core of a stem, where nothing is blended).
struct DrawnText
{
    QColor background;
    QColor ink;
    double contrast() const { return settings_style::contrast(background, ink); }
};

inline DrawnText drawnText(const QImage& image, const QRect& area)
{
    QHash<QRgb, int> counts;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000];
    DrawnText out;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            out.background = QColor(it.key());
        }
    out.ink = out.background;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (settings_style::contrast(out.background, QColor(it.key())) > out.contrast())
            out.ink = QColor(it.key());
    return out;
}

} // namespace jw::test
