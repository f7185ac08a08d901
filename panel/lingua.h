#pragma once

// Qt's own dialogs and buttons (the file dialog, "Salva", "Annulla", "Non salvare") in Italian
// like the rest of the program, and Qt's own controls writing numbers the Italian way. Qt's
// translations come from the system (Debian's qt6-translations-l10n) or, where the program
// carries its own (the Windows installer), from the folder "translations" beside it. False if
// none was found: the dialogs then speak English.
bool installaLinguaItaliana();
