#include "window/input_policy.h"

namespace kestrafin::window {

bool passes_while_searching(const UserInput& input) {
    const bool in_list = input.target == InputTarget::List;
    switch (input.kind) {
        case InputKind::ButtonPress:
        case InputKind::ButtonRelease:
            return input.left_button && input.target != InputTarget::Other;
        case InputKind::PointerMove:
            // The button shows whether a press on it is still over it.
            return input.target != InputTarget::Other;
        case InputKind::Wheel:
            return in_list;
        case InputKind::KeyPress:
        case InputKind::KeyRelease:
            return in_list && !input.command_modifier && input.key != InputKey::Other;
        case InputKind::Other:
            return false;
    }
    return false;
}

}  // namespace kestrafin::window
