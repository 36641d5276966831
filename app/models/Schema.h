#pragma once

#include "platform/store/ModelContainer.h"

namespace jw {

// The store's schema: the four models in order, version 1.0.0.
const store::Schema& jotwardenSchema();

// The on-disk configuration named "Jotwarden".
store::ModelConfiguration jotwardenConfiguration();

} // namespace jw
