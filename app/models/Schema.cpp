#include "app/models/Schema.h"

#include "app/models/AppSettings.h"
#include "app/models/ProjectCache.h"
#include "app/models/SeenTodo.h"
#include "app/models/WatchedDirectory.h"

namespace jw {

const store::Schema& jotwardenSchema()
{
    static const store::Schema schema{{1, 0, 0},
                                      {&AppSettings::entityDescription(),
                                       &WatchedDirectory::entityDescription(),
                                       &SeenTodo::entityDescription(),
                                       &ProjectCache::entityDescription()}};
    return schema;
}

store::ModelConfiguration jotwardenConfiguration()
{
    return {QStringLiteral("Jotwarden"), {}, true};
}

} // namespace jw
