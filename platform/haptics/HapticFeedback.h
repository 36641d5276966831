#pragma once

#include <memory>

namespace jw {

// Haptic feedback, with the platform's pattern and timing names. Linux desktops have no such
// device, so the default performer does nothing; tests install one that counts.
class HapticFeedbackPerformer
{
public:
    enum class Pattern
    {
        generic = 0,
        alignment = 1,
        levelChange = 2
    };
    enum class PerformanceTime
    {
        defaultTime = 0,
        now = 1,
        drawCompleted = 2
    };

    virtual ~HapticFeedbackPerformer() = default;
    virtual void perform(Pattern pattern, PerformanceTime time) = 0;
};

struct HapticFeedbackManager
{
    // The performer in use; never null.
    static HapticFeedbackPerformer& defaultPerformer();
    // Replaces the default performer; null restores the silent one.
    static void setDefaultPerformer(std::shared_ptr<HapticFeedbackPerformer> performer);
};

} // namespace jw
