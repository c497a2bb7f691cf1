#include "ui/recorder_effect_slot.h"

namespace qm::ui {

// The catalogue's effect panel plugs in here once it exists.
std::unique_ptr<RecorderEffectPanel> MakeRecorderEffectPanel() {
    return nullptr;
}

}  // namespace qm::ui
