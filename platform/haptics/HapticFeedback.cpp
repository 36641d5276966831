#include "platform/haptics/HapticFeedback.h"

namespace jw {
namespace {

class SilentPerformer : public HapticFeedbackPerformer
{
public:
    void perform(Pattern, PerformanceTime) override {}
};

std::shared_ptr<HapticFeedbackPerformer>& current()
{
    static std::shared_ptr<HapticFeedbackPerformer> performer = std::make_shared<SilentPerformer>();
    return performer;
}

} // namespace

HapticFeedbackPerformer& HapticFeedbackManager::defaultPerformer()
{
    return *current();
}

void HapticFeedbackManager::setDefaultPerformer(std::shared_ptr<HapticFeedbackPerformer> performer)
{
    current() = performer ? std::move(performer) : std::make_shared<SilentPerformer>();
}

} // namespace jw
