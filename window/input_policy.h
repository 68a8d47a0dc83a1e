// Which of the user's input a running search lets through (Activity::Stoppable):
// a left click on "Stop", and what scrolls and reads the list. Everything
// else waits for no one: the face drops it. Faces describe each input in
// these terms and ask; Escape is the face's to hand to the logic. A face asks
// before its toolkit acts on the input at all, so that input dropped changes
// nothing, the focus included (a press on a button would otherwise move it
// there).
#pragma once

namespace kestrafin::window {

enum class InputKind {
    ButtonPress,
    ButtonRelease,
    PointerMove,
    Wheel,
    KeyPress,
    KeyRelease,
    Other
};

// Where the input goes: the search button, the list (its rows, scroll bars
// and header), or anywhere else.
enum class InputTarget { SearchButton, List, Other };

enum class InputKey { Up, Down, Left, Right, PageUp, PageDown, Home, End, Other };

struct UserInput {
    InputKind kind = InputKind::Other;
    InputTarget target = InputTarget::Other;
    // For presses and releases: the left (primary) button.
    bool left_button = false;
    // For keys: the key, and whether Ctrl, Alt or the system key is held
    // (Shift does not count: it only extends what a key selects).
    InputKey key = InputKey::Other;
    bool command_modifier = false;
};

// True for input that reaches its control while a search runs. Keys pass
// only to the list and only unchorded: a chord is a command, which waits for
// the search to end.
bool passes_while_searching(const UserInput& input);

}  // namespace kestrafin::window
