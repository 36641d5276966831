#include "platform/store/ModelContainer.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>

namespace jw::store {

namespace {

const QString kMetaTable = QStringLiteral("jw_metadata");

QString sqlType(ColumnType type)
{
    switch (type) {
    case ColumnType::Text:
        return QStringLiteral("TEXT");
    case ColumnType::Integer:
    case ColumnType::Boolean:
    case ColumnType::Date:
        return QStringLiteral("INTEGER");
    }
    return QStringLiteral("BLOB");
}

// Dates are stored as milliseconds since the epoch, UTC; Booleans as 0 and 1. Only an absent
// optional (a null QVariant) is SQL NULL.
QVariant toSql(const Column& column, const QVariant& value)
{
    if (value.isNull())
        return QVariant(QMetaType::fromType<qint64>());
    switch (column.type) {
    case ColumnType::Date:
        return value.toDateTime().toMSecsSinceEpoch();
    case ColumnType::Boolean:
        return value.toBool() ? 1 : 0;
    case ColumnType::Integer:
        return value.toLongLong();
    case ColumnType::Text: {
        // The SQL driver binds a null QString as NULL; an empty text is a value all the same.
        const QString text = value.toString();
        return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
    }
    }
    return value;
}

QVariant fromSql(const Column& column, const QVariant& value)
{
    if (value.isNull())
        return {};
    switch (column.type) {
    case ColumnType::Date:
        return QDateTime::fromMSecsSinceEpoch(value.toLongLong(), Qt::UTC);
    case ColumnType::Boolean:
        return value.toLongLong() != 0;
    case ColumnType::Integer:
        return value.toLongLong();
    case ColumnType::Text:
        return value.toString();
    }
    return value;
}

QString quoted(const QString& identifier)
{
    return QLatin1Char('"') + identifier + QLatin1Char('"');
}

QString errorText(const QSqlError& error)
{
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.isEmpty() ? QStringLiteral("unknown database error") : text;
}

} // namespace

QString SchemaVersion::toString() const
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
}

std::optional<SchemaVersion> SchemaVersion::parse(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return std::nullopt;
    SchemaVersion v;
    bool ok1 = false, ok2 = false, ok3 = false;
    v.major = parts[0].toInt(&ok1);
    v.minor = parts[1].toInt(&ok2);
    v.patch = parts[2].toInt(&ok3);
    if (!ok1 || !ok2 || !ok3)
        return std::nullopt;
    return v;
}

QString ModelConfiguration::resolvedFilePath() const
{
    if (!filePath.isEmpty())
        return filePath;
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base + QStringLiteral("/jotwarden/") + name + QStringLiteral(".store");
}

void PersistentModel::didChange()
{
    if (m_context)
        m_context->markDirty(this);
}

struct ModelContext::Private
{
    QString connectionName;
    Schema schema;
    // Identity map: one live object per stored record.
    QHash<QString, QHash<qint64, std::weak_ptr<PersistentModel>>> identity;
    std::vector<ModelPtr> inserted;
    std::vector<ModelPtr> deleted;
    std::vector<std::weak_ptr<PersistentModel>> dirty;

    QSqlDatabase db() const { return QSqlDatabase::database(connectionName, false); }

    bool isDeleted(const PersistentModel* m) const
    {
        return std::any_of(deleted.begin(), deleted.end(), [m](const ModelPtr& p) { return p.get() == m; });
    }
};

ModelContext::ModelContext(const QString& connectionName, const Schema& schema)
    : d(std::make_unique<Private>())
{
    d->connectionName = connectionName;
    d->schema = schema;
}

ModelContext::~ModelContext()
{
    for (auto& m : d->inserted)
        m->m_context = nullptr;
    for (auto& table : d->identity)
        for (auto& weak : table)
            if (auto m = weak.lock())
                m->m_context = nullptr;
}

ModelPtr ModelContext::registered(const EntityDescription& entity,
                                  qint64 rowId,
                                  const QVariantList& values,
                                  const std::function<ModelPtr()>& make)
{
    auto& table = d->identity[entity.name];
    if (auto existing = table.value(rowId).lock())
        return existing;
    ModelPtr model = make();
    model->setValues(values);
    model->m_rowId = rowId;
    model->m_context = this;
    table.insert(rowId, model);
    return model;
}

Result<std::vector<ModelPtr>> ModelContext::fetchEntity(const EntityDescription& entity,
                                                        const std::function<ModelPtr()>& make)
{
    QStringList names;
    for (const Column& c : entity.columns)
        names << quoted(c.name);
    QSqlQuery query(d->db());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT rowid, %1 FROM %2 ORDER BY rowid")
                        .arg(names.join(QStringLiteral(", ")), quoted(entity.name))))
        return Result<std::vector<ModelPtr>>::failure(errorText(query.lastError()));
    std::vector<ModelPtr> out;
    while (query.next()) {
        QVariantList values;
        values.reserve(entity.columns.size());
        for (int i = 0; i < entity.columns.size(); ++i)
            values << fromSql(entity.columns[i], query.value(i + 1));
        ModelPtr model = registered(entity, query.value(0).toLongLong(), values, make);
        if (!d->isDeleted(model.get()))
            out.push_back(model);
    }
    for (const ModelPtr& m : d->inserted)
        if (&m->entity() == &entity || m->entity().name == entity.name)
            out.push_back(m);
    return out;
}

Result<qint64> ModelContext::countEntity(const EntityDescription& entity)
{
    QSqlQuery query(d->db());
    if (!query.exec(QStringLiteral("SELECT count(*) FROM %1").arg(quoted(entity.name))) || !query.next())
        return Result<qint64>::failure(errorText(query.lastError()));
    qint64 count = query.value(0).toLongLong();
    for (const ModelPtr& m : d->inserted)
        if (m->entity().name == entity.name)
            ++count;
    for (const ModelPtr& m : d->deleted)
        if (m->entity().name == entity.name)
            --count;
    return count;
}

void ModelContext::insert(const ModelPtr& model)
{
    if (!model || model->m_context == this)
        return;
    model->m_context = this;
    d->inserted.push_back(model);
    Q_EMIT changed();
}

void ModelContext::remove(const ModelPtr& model)
{
    if (!model || model->m_context != this)
        return;
    auto it = std::find(d->inserted.begin(), d->inserted.end(), model);
    if (it != d->inserted.end()) {
        d->inserted.erase(it);
        model->m_context = nullptr;
    } else if (!d->isDeleted(model.get())) {
        d->deleted.push_back(model);
    }
    Q_EMIT changed();
}

void ModelContext::markDirty(PersistentModel* model)
{
    if (model->m_rowId != 0) {
        const bool known =
            std::any_of(d->dirty.begin(), d->dirty.end(), [model](const auto& w) { return w.lock().get() == model; });
        if (!known)
            d->dirty.push_back(model->weak_from_this());
    }
    Q_EMIT changed();
}

bool ModelContext::hasChanges() const
{
    return !d->inserted.empty() || !d->deleted.empty() || !d->dirty.empty();
}

Status ModelContext::save()
{
    if (!hasChanges())
        return {};
    QSqlDatabase db = d->db();
    if (!db.transaction()) {
        const QString message = errorText(db.lastError());
        rollback();
        return Status::failure(message);
    }

    auto fail = [&](const QSqlQuery& q) {
        const QString message = errorText(q.lastError());
        db.rollback();
        rollback();
        return Status::failure(message);
    };

    for (const ModelPtr& m : d->deleted) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(quoted(m->entity().name)));
        q.addBindValue(m->m_rowId);
        if (!q.exec())
            return fail(q);
    }
    for (const auto& weak : d->dirty) {
        ModelPtr m = weak.lock();
        if (!m || d->isDeleted(m.get()))
            continue;
        const EntityDescription& e = m->entity();
        QStringList sets;
        for (const Column& c : e.columns)
            sets << quoted(c.name) + QStringLiteral(" = ?");
        QSqlQuery q(db);
        q.prepare(
            QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?").arg(quoted(e.name), sets.join(QStringLiteral(", "))));
        const QVariantList values = m->values();
        for (int i = 0; i < e.columns.size(); ++i)
            q.addBindValue(toSql(e.columns[i], values.value(i)));
        q.addBindValue(m->m_rowId);
        if (!q.exec())
            return fail(q);
    }
    std::vector<qint64> newIds;
    for (const ModelPtr& m : d->inserted) {
        const EntityDescription& e = m->entity();
        QStringList names, marks, updates;
        for (const Column& c : e.columns) {
            names << quoted(c.name);
            marks << QStringLiteral("?");
            updates << quoted(c.name) + QStringLiteral(" = excluded.") + quoted(c.name);
        }
        QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                          .arg(quoted(e.name), names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
        // A stored record with the same unique value takes the new values and keeps its identity.
        if (!e.uniqueColumn.isEmpty())
            sql += QStringLiteral(" ON CONFLICT (%1) DO UPDATE SET %2")
                       .arg(quoted(e.uniqueColumn), updates.join(QStringLiteral(", ")));
        sql += QStringLiteral(" RETURNING rowid");
        QSqlQuery q(db);
        q.prepare(sql);
        const QVariantList values = m->values();
        for (int i = 0; i < e.columns.size(); ++i)
            q.addBindValue(toSql(e.columns[i], values.value(i)));
        if (!q.exec() || !q.next())
            return fail(q);
        newIds.push_back(q.value(0).toLongLong());
    }
    if (!db.commit()) {
        const QString message = errorText(db.lastError());
        db.rollback();
        rollback();
        return Status::failure(message);
    }

    for (const ModelPtr& m : d->deleted) {
        d->identity[m->entity().name].remove(m->m_rowId);
        m->m_rowId = 0;
        m->m_context = nullptr;
    }
    for (size_t i = 0; i < d->inserted.size(); ++i) {
        const ModelPtr& m = d->inserted[i];
        auto& table = d->identity[m->entity().name];
        // An object already standing for the replaced record shows the new values too.
        if (auto previous = table.value(newIds[i]).lock(); previous && previous != m)
            previous->setValues(m->values());
        m->m_rowId = newIds[i];
        table.insert(newIds[i], m);
    }
    d->inserted.clear();
    d->deleted.clear();
    d->dirty.clear();
    Q_EMIT changed();
    return {};
}

void ModelContext::rollback()
{
    for (const ModelPtr& m : d->inserted)
        m->m_context = nullptr;
    d->inserted.clear();
    d->deleted.clear();
    // Property writes go back to the stored values.
    for (const auto& weak : d->dirty) {
        const ModelPtr m = weak.lock();
        if (!m)
            continue;
        const EntityDescription& e = m->entity();
        QStringList names;
        for (const Column& c : e.columns)
            names << quoted(c.name);
        QSqlQuery q(d->db());
        q.prepare(
            QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?").arg(names.join(QStringLiteral(", ")), quoted(e.name)));
        q.addBindValue(m->m_rowId);
        if (!q.exec() || !q.next())
            continue;
        QVariantList values;
        values.reserve(e.columns.size());
        for (int i = 0; i < e.columns.size(); ++i)
            values << fromSql(e.columns[i], q.value(i));
        m->setValues(values);
    }
    d->dirty.clear();
    Q_EMIT changed();
}

ModelContainer::~ModelContainer()
{
    m_context.reset();
    QSqlDatabase::database(m_connectionName, false).close();
    QSqlDatabase::removeDatabase(m_connectionName);
}

Result<std::unique_ptr<ModelContainer>> ModelContainer::open(const Schema& schema,
                                                             const ModelConfiguration& configuration)
{
    using R = Result<std::unique_ptr<ModelContainer>>;
    const QString path = configuration.resolvedFilePath();
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return R::failure(QStringLiteral("Cannot create the store's folder %1").arg(info.absolutePath()));
    if (info.exists() && !info.isFile())
        return R::failure(QStringLiteral("The store %1 is not a file").arg(path));

    std::unique_ptr<ModelContainer> container(new ModelContainer);
    container->m_connectionName = QStringLiteral("jw-store-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    container->m_filePath = path;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), container->m_connectionName);
        db.setDatabaseName(path);
        if (!db.open())
            return R::failure(QStringLiteral("Cannot open the store %1: %2").arg(path, errorText(db.lastError())));

        auto exec = [&](const QString& sql) -> QString {
            QSqlQuery q(db);
            if (!q.exec(sql))
                return errorText(q.lastError());
            return {};
        };

        QSqlQuery tables(db);
        if (!tables.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
            return R::failure(
                QStringLiteral("The store %1 cannot be read: %2").arg(path, errorText(tables.lastError())));
        QStringList existing;
        while (tables.next())
            existing << tables.value(0).toString();
        tables.finish();

        if (existing.contains(kMetaTable)) {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("SELECT value FROM %1 WHERE key = 'schemaVersion'").arg(kMetaTable))
                || !q.next())
                return R::failure(QStringLiteral("The store %1 has no schema version").arg(path));
            const QString text = q.value(0).toString();
            const auto stored = SchemaVersion::parse(text);
            if (!stored)
                return R::failure(
                    QStringLiteral("The store %1 has an unreadable schema version \"%2\"").arg(path, text));
            if (*stored > schema.version)
                return R::failure(QStringLiteral("The store %1 was written by a newer schema version (%2; this "
                                                 "program reads up to %3)")
                                      .arg(path, stored->toString(), schema.version.toString()));
        } else if (!existing.isEmpty()) {
            return R::failure(QStringLiteral("The store %1 belongs to another program").arg(path));
        }

        // Crash safety: a save that returned is in the log, and the log survives a killed process.
        QSqlQuery mode(db);
        if (!mode.exec(QStringLiteral("PRAGMA journal_mode = WAL")) || !mode.next()
            || mode.value(0).toString().compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0)
            return R::failure(QStringLiteral("The store %1 cannot be used: %2").arg(path, errorText(mode.lastError())));
        mode.finish();
        if (QString e = exec(QStringLiteral("PRAGMA synchronous = FULL")); !e.isEmpty())
            return R::failure(e);

        if (!db.transaction())
            return R::failure(errorText(db.lastError()));
        QStringList statements;
        statements
            << QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (key TEXT PRIMARY KEY, value TEXT)").arg(kMetaTable);
        statements << QStringLiteral("INSERT OR IGNORE INTO %1 (key, value) VALUES ('schemaVersion', '%2')")
                          .arg(kMetaTable, schema.version.toString());
        for (const EntityDescription* e : schema.entities) {
            QStringList defs;
            for (const Column& c : e->columns) {
                QString def = quoted(c.name) + QLatin1Char(' ') + sqlType(c.type);
                if (!c.optional)
                    def += QStringLiteral(" NOT NULL");
                if (c.name == e->uniqueColumn)
                    def += QStringLiteral(" UNIQUE");
                defs << def;
            }
            statements << QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (%2)")
                              .arg(quoted(e->name), defs.join(QStringLiteral(", ")));
        }
        for (const QString& sql : statements) {
            if (QString e = exec(sql); !e.isEmpty()) {
                db.rollback();
                return R::failure(QStringLiteral("Cannot set up the store %1: %2").arg(path, e));
            }
        }
        if (!db.commit())
            return R::failure(errorText(db.lastError()));
    }
    container->m_context = std::make_unique<ModelContext>(container->m_connectionName, schema);
    return R(std::move(container));
}

} // namespace jw::store
