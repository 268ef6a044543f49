// Lets the user interface run during long codec work. The program installs
// a hook that processes pending events; without one nothing happens.
#pragma once

#include <functional>

// Installs `hook` for the calling thread (an empty function removes it).
// Not to be called from inside the hook.
void SetProcessHook(std::function<void()> hook);

// Cheap enough to call per line: runs the hook only when a few
// milliseconds have passed since it last ran, and never from inside it.
void RunProcessHook();
