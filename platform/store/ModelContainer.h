#pragma once

#include "platform/Result.h"
#include "platform/store/PersistentModel.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace jw::store {

struct SchemaVersion
{
    int major = 0;
    int minor = 0;
    int patch = 0;
    QString toString() const;
    static std::optional<SchemaVersion> parse(const QString& text);
    auto operator<=>(const SchemaVersion&) const = default;
};

struct Schema
{
    SchemaVersion version;
    QList<const EntityDescription*> entities;
};

struct ModelConfiguration
{
    QString name;
    // Empty: "$XDG_DATA_HOME/jotwarden/<name>.store".
    QString filePath;
    bool allowsSave = true;

    QString resolvedFilePath() const;
};

template <typename T>
struct SortDescriptor
{
    std::function<bool(const T&, const T&)> lessThan;
    bool reverse = false;

    template <typename Key>
    static SortDescriptor by(Key (T::*getter)() const, bool reverse = false)
    {
        return {[getter](const T& a, const T& b) { return (a.*getter)() < (b.*getter)(); }, reverse};
    }
};

// The one context of the store. Inserts, deletions and property writes stay pending until
// save(), which writes them in one transaction. Fetches see pending changes. A save that fails
// rolls every pending change back (inserted objects leave the context, deleted ones come back,
// written properties take their stored values again), so one bad change cannot fail the saves
// that follow it.
class ModelContext : public QObject
{
    Q_OBJECT
public:
    ModelContext(const QString& connectionName, const Schema& schema);
    ~ModelContext() override;

    template <typename T>
    Result<std::vector<std::shared_ptr<T>>> fetch(std::optional<SortDescriptor<T>> sort = std::nullopt)
    {
        auto rows = fetchEntity(T::entityDescription(), [] { return std::make_shared<T>(); });
        if (!rows)
            return Result<std::vector<std::shared_ptr<T>>>::failure(rows.error());
        std::vector<std::shared_ptr<T>> out;
        out.reserve(rows.value().size());
        for (auto& m : rows.value())
            out.push_back(std::static_pointer_cast<T>(m));
        if (sort) {
            std::stable_sort(out.begin(), out.end(), [&](const auto& a, const auto& b) {
                return sort->lessThan(*a, *b);
            });
            // Reversing the whole list puts the later record first among equal keys as well.
            if (sort->reverse)
                std::reverse(out.begin(), out.end());
        }
        return out;
    }

    template <typename T>
    Result<qint64> fetchCount()
    {
        return countEntity(T::entityDescription());
    }

    void insert(const ModelPtr& model);
    void remove(const ModelPtr& model);
    Status save();
    bool hasChanges() const;

Q_SIGNALS:
    // Any insert, deletion, property write or save: live queries re-fetch on it.
    void changed();

private:
    friend class PersistentModel;
    void markDirty(PersistentModel* model);
    void rollback();
    Result<std::vector<ModelPtr>> fetchEntity(const EntityDescription& entity, const std::function<ModelPtr()>& make);
    Result<qint64> countEntity(const EntityDescription& entity);
    ModelPtr registered(const EntityDescription& entity,
                        qint64 rowId,
                        const QVariantList& values,
                        const std::function<ModelPtr()>& make);

    struct Private;
    std::unique_ptr<Private> d;
};

class ModelContainer
{
public:
    static Result<std::unique_ptr<ModelContainer>> open(const Schema& schema, const ModelConfiguration& configuration);
    ~ModelContainer();

    ModelContext* mainContext() const { return m_context.get(); }
    QString filePath() const { return m_filePath; }

private:
    ModelContainer() = default;
    QString m_connectionName;
    QString m_filePath;
    std::unique_ptr<ModelContext> m_context;
};

} // namespace jw::store
