// The tip of the day in the Windows shell: one tip from tips.dat at a time,
// Next and Previous, its help topic, and the switch that turns tips off.
#pragma once

struct HWND__;
struct HINSTANCE__;
struct TTipState;

// Shows the tip window modally and returns when it is closed; returns at
// once when one is already showing.
void ShowTipOfTheDay(HINSTANCE__* instance, HWND__* owner, TTipState& state);
