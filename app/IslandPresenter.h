#pragma once

#include "app/IslandState.h"

namespace jw {

// What the shared state needs of the island controller, which lives with the views.
class IslandPresenter
{
public:
    virtual ~IslandPresenter() = default;
    virtual void show(const IslandState& state) = 0;
    // Brought up by a state and not yet taken down.
    virtual bool isVisible() const = 0;
};

} // namespace jw
