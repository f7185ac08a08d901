#pragma once

// What a screen reader is told of the program's windows, beyond what Qt tells by itself:
// - a selector (QComboBox) is announced by its name ("Porta"), with its text as its value: on
//   Linux Qt would announce it by its current text alone ("1", "9600");
// - a window of its own made from a plain widget (Traffico, Ripeti) is announced as a window
//   with its title, not as an anonymous filler.
// Installed once, before the first window is shown.
void installaAccessibilita();
