#pragma once

#include "app/IslandState.h"

namespace jw {

// What the shared state needs of the island controller, which lives with the views.
class IslandPresenter
{
public:
    virtual ~IslandPresenter() = default;
    virtual void show(const IslandState& state) = 0;
};

} // namespace jw
