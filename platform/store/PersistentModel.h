#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

namespace jw::store {

class ModelContext;

enum class ColumnType
{
    Text,
    Integer,
    Boolean,
    Date,
};

struct Column
{
    QString name;
    ColumnType type;
    bool optional = false;
};

// What the store needs to know of one model: its table, its columns in declaration order and
// the one unique attribute, if any (inserting a record whose unique value is stored replaces
// the stored record's values, keeping its identity).
struct EntityDescription
{
    QString name;
    QList<Column> columns;
    QString uniqueColumn;
};

// Base of the persistent model classes. Equality of model objects is identity: the context's
// identity map hands out one object per stored record.
class PersistentModel : public std::enable_shared_from_this<PersistentModel>
{
public:
    virtual ~PersistentModel() = default;

    virtual const EntityDescription& entity() const = 0;
    // Column values in the entity's column order; an absent optional is a null QVariant.
    virtual QVariantList values() const = 0;
    virtual void setValues(const QVariantList& values) = 0;

    // The stored record's identity; 0 until the first successful save.
    qint64 persistentId() const { return m_rowId; }
    ModelContext* context() const { return m_context; }

protected:
    // Setters call this after writing a value, so the context saves it and live queries refresh.
    void didChange();

private:
    friend class ModelContext;
    qint64 m_rowId = 0;
    ModelContext* m_context = nullptr;
};

using ModelPtr = std::shared_ptr<PersistentModel>;

} // namespace jw::store
